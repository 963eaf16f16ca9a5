// The operator's settings: the head's address, the range and the gain, read
// from the settings file in the current directory at start-up and written
// back at a clean shut-down.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char SETTINGS_FILE_NAME[] = "Halvex_StoreData.INI";
constexpr char SETTINGS_SECTION[] = "Settings";
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

void settings_defaults(HeadSettings* settings);
// Reads the file at path into settings; missing or bad values take their defaults.
void settings_read(HeadSettings* settings, const char* path);
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
