// The operator's settings: the head's address, the range and the gain, read
// from the settings file in the current directory at start-up and written
// back at a clean shut-down.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr char SETTINGS_FILE_NAME[] = "Halvex_StoreData.INI";
constexpr char SETTINGS_SECTION[] = "Settings";
constexpr char SETTINGS_KEY_ADDRESS[] = "IPAddress";
constexpr char SETTINGS_KEY_RANGE[] = "Range";
constexpr char SETTINGS_KEY_GAIN[] = "Gain";
constexpr char DEFAULT_ADDRESS[] = "192.168.0.2";
constexpr int DEFAULT_RANGE = 30;
constexpr int DEFAULT_GAIN = 3;
constexpr int ADDRESS_MAX = 19;
constexpr int PROFILE_VALUE_SIZE = 80;
// "." and a separator before the file name.
constexpr size_t SETTINGS_PATH_SIZE = sizeof SETTINGS_FILE_NAME + 2;

struct HeadSettings {
    char address[ADDRESS_MAX + 1];
    int range;  // metres
    int gain;   // dB
    uint16_t port;
};

// The values as the file gave them (a missing key: its default's text), to
// tell which were replaced.
struct SettingsText {
    char address[PROFILE_VALUE_SIZE];
    char range[PROFILE_VALUE_SIZE];
    char gain[PROFILE_VALUE_SIZE];
};

void settings_defaults(HeadSettings* settings);
// Reads the file at path into settings; missing or bad values take their
// defaults. A file that is there but cannot be read fails (PLAT_ERR_FAILED,
// or PLAT_ERR_HELD by another program on Windows; plat_last_error() tells
// why), the settings at their defaults.
PlatResult settings_read(HeadSettings* settings, const char* path, SettingsText* text);
// Whether a value of the file was replaced: an address empty or cut, a
// number other than the one used.
bool settings_address_replaced(const SettingsText* text, const HeadSettings* used);
bool settings_number_replaced(const char* text, int used);
// Writes the three keys back in one write of the file.
void settings_write(const HeadSettings* settings, const char* path);
// The settings file named relative to the current directory ("./NAME" or
// ".\NAME"): its path cannot be cut however deep the directory lies, and
// Windows resolves it in the current directory whatever that is called.
void settings_build_path(char path[SETTINGS_PATH_SIZE], char separator);

// Text to number as atoi reads it (leading white space, sign, digits), but
// saturating instead of wrapping when the digits overflow.
int settings_parse_number(const char* text);
int settings_range_from_text(const char* text);
int settings_gain_from_text(const char* text);
