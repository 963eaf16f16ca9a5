#include "acquisition/settings.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "headlink/protocol.h"
#include "platform/platform.h"

namespace {

const int ALLOWED_RANGES[] = {5, 10, 20, 30, 40, 50, 60, 80, 100};

bool is_atoi_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void settings_defaults(HeadSettings* settings)
{
    memset(settings, 0, sizeof *settings);
    strcpy(settings->address, DEFAULT_ADDRESS);
    settings->range = DEFAULT_RANGE;
    settings->gain = DEFAULT_GAIN;
    settings->port = HEAD_PORT;
}

int settings_parse_number(const char* text)
{
    while (is_atoi_space(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int settings_range_from_text(const char* text)
{
    int range = settings_parse_number(text);
    for (int allowed : ALLOWED_RANGES) {
        if (range == allowed) return range;
    }
    return DEFAULT_RANGE;
}

int settings_gain_from_text(const char* text)
{
    int gain = settings_parse_number(text);
    return gain < 0 || gain > 20 ? DEFAULT_GAIN : gain;
}

void settings_build_path(char path[SETTINGS_PATH_SIZE], char separator)
{
    snprintf(path, SETTINGS_PATH_SIZE, ".%c%s", separator, SETTINGS_FILE_NAME);
}

PlatResult settings_read(HeadSettings* settings, const char* path, SettingsText* text)
{
    // The lookup's fallbacks are the defaults as the file would hold them.
    char default_range[16];
    char default_gain[16];
    snprintf(default_range, sizeof default_range, "%d", DEFAULT_RANGE);
    snprintf(default_gain, sizeof default_gain, "%d", DEFAULT_GAIN);
    PlatProfileQuery queries[] = {{SETTINGS_KEY_ADDRESS, DEFAULT_ADDRESS, text->address, sizeof text->address},
                                  {SETTINGS_KEY_RANGE, default_range, text->range, sizeof text->range},
                                  {SETTINGS_KEY_GAIN, default_gain, text->gain, sizeof text->gain}};
    PlatResult result = plat_profile_get(path, SETTINGS_SECTION, queries, sizeof queries / sizeof queries[0]);
    // A longer address keeps its first characters; it will fail to connect.
    const char* address = text->address[0] ? text->address : DEFAULT_ADDRESS;
    size_t length = strnlen(address, ADDRESS_MAX);
    memcpy(settings->address, address, length);
    settings->address[length] = 0;
    settings->range = settings_range_from_text(text->range);
    settings->gain = settings_gain_from_text(text->gain);
    return result;
}

bool settings_address_replaced(const SettingsText* text, const HeadSettings* used)
{
    return strcmp(text->address, used->address) != 0;
}

bool settings_number_replaced(const char* text, int used)
{
    return settings_parse_number(text) != used;
}

void settings_write(const HeadSettings* settings, const char* path)
{
    char range[16];
    char gain[16];
    snprintf(range, sizeof range, "%d", settings->range);
    snprintf(gain, sizeof gain, "%d", settings->gain);
    const PlatProfileEntry entries[] = {
        {SETTINGS_KEY_ADDRESS, settings->address}, {SETTINGS_KEY_RANGE, range}, {SETTINGS_KEY_GAIN, gain}};
    plat_profile_set(path, SETTINGS_SECTION, entries, sizeof entries / sizeof entries[0]);
}
