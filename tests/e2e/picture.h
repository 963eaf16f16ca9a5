// qkvdump's pictures read back with libpng, an independent reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
    std::string fault;  // empty when the file is a whole PNG picture
};

// A palette picture is read as the colours it indexes.
Decoded decode_png(const std::string& path);

}  // namespace e2e
