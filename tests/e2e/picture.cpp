#include "tests/e2e/picture.h"

#include <png.h>

#include "tests/e2e/harness.h"

namespace e2e {

Decoded decode_png(const std::string& path)
{
    Decoded picture;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        image.format &= ~PNG_FORMAT_FLAG_COLORMAP;  // a palette picture read as the colours it indexes
        std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
            picture.width = static_cast<int>(image.width);
            picture.height = static_cast<int>(image.height);
            picture.channels = static_cast<int>(PNG_IMAGE_PIXEL_CHANNELS(image.format));
            picture.pixels = pixels;
        }
    }
    picture.fault = image.message;
    png_image_free(&image);
    // The end chunk is not read above: it is always the same 12 bytes.
    std::string file = read_file(path);
    if (file.size() < 12 || file.compare(file.size() - 12, 12, std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12)) != 0) {
        picture.fault += " no end chunk";
    }
    return picture;
}

}  // namespace e2e
