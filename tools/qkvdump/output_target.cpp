#include "tools/qkvdump/output_target.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "store/record.h"

namespace {

const char DATA_FILE_SUFFIX[] = ".QKV";

bool starts_as_data_file(const char* path)
{
    uint8_t start[sizeof RECORD_MAGIC_BYTES] = {};
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) return false;
    bool magic = fread(start, 1, sizeof start, stream) == sizeof start &&
                 memcmp(start, RECORD_MAGIC_BYTES, sizeof start) == 0;
    fclose(stream);
    return magic;
}

}  // namespace

bool output_target_allowed(const char* option, const char* what, const char* path, const char* const* files, int count,
                           bool* in_place)
{
    PlatFileLook target;
    if (!plat_file_look(path, &target)) return true;
    *in_place = !target.regular;
    for (int i = 0; i < count; ++i) {
        PlatFileLook input;
        if (plat_file_look(files[i], &input) && plat_same_file(input, target)) {
            fprintf(stderr, "qkvdump: %s %s is %s, a file to read: not writing the %s over it\n", option, path,
                    files[i], what);
            return false;
        }
    }
    if (target.regular && (output_is_data_file_name(path) || starts_as_data_file(path))) {
        fprintf(stderr, "qkvdump: %s %s is a data file: not writing the %s over it (%s OUT FILE...)\n", option, path,
                what, option);
        return false;
    }
    return true;
}

// Named as the program names its data files, letter case ignored.
bool output_is_data_file_name(const char* path)
{
    size_t length = strlen(path);
    size_t suffix_length = sizeof DATA_FILE_SUFFIX - 1;
    if (length < suffix_length) return false;
    const char* tail = path + length - suffix_length;
    for (size_t i = 0; i < suffix_length; ++i) {
        if (toupper(static_cast<unsigned char>(tail[i])) != DATA_FILE_SUFFIX[i]) return false;
    }
    return true;
}
