// Reads and writes a settings file through the platform's profile functions
// only, so the Linux and the Windows build can be given the same file and
// their answers compared. The file is named relative to the current
// directory the way the program names its settings file (".", the
// separator, the name).
//
//   profile_probe get FILE SECTION KEY [SECTION KEY]...
//       one line per pair: the value with bytes outside printable ASCII as
//       \xHH, or (absent) when the key is not there
//   profile_probe set FILE SECTION KEY VALUE
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

const size_t PATH_SIZE = 1024;
const size_t VALUE_SIZE = 1024;
const char ABSENT[] = "\x01(absent)";

bool probe_path(const char* name, char* path)
{
    return snprintf(path, PATH_SIZE, ".%c%s", PLAT_DIR_SEPARATOR, name) < static_cast<int>(PATH_SIZE);
}

void probe_print_value(const char* value)
{
    if (strcmp(value, ABSENT) == 0) {
        printf("(absent)\n");
        return;
    }
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(value); *at; ++at) {
        if (*at >= 0x20 && *at < 0x7F && *at != '\\') {
            putchar(*at);
        } else {
            printf("\\x%02X", *at);
        }
    }
    putchar('\n');
}

int probe_get(const char* path, int pairs, char** names)
{
    static char value[VALUE_SIZE];
    for (int pair = 0; pair < pairs; ++pair) {
        PlatProfileQuery query = {names[2 * pair + 1], ABSENT, value, sizeof value};
        plat_profile_get(path, names[2 * pair], &query, 1);
        probe_print_value(value);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    static char path[PATH_SIZE];
    bool get = argc >= 5 && argc % 2 == 1 && strcmp(argv[1], "get") == 0;
    bool set = argc == 6 && strcmp(argv[1], "set") == 0;
    if (!get && !set) {
        fprintf(stderr, "usage: profile_probe get FILE SECTION KEY [SECTION KEY]...\n"
                        "       profile_probe set FILE SECTION KEY VALUE\n");
        return 2;
    }
    if (!probe_path(argv[2], path)) return 2;
    if (get) return probe_get(path, (argc - 3) / 2, argv + 3);
    PlatProfileEntry entry = {argv[4], argv[5]};
    return plat_profile_set(path, argv[3], &entry, 1) == PLAT_OK ? 0 : 1;
}
