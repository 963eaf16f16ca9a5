// Reads and edits any settings file text. The names and the value come from
// the end of the input, the file text is what is left at its front.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include <strings.h>

#include "acquisition/settings.h"
#include "platform/posix/profile_text.h"

namespace {

constexpr int NAME_MAX_LENGTH = 24;
constexpr int VALUE_MAX_LENGTH = 64;
constexpr size_t READ_BACK_SIZE = 256;
constexpr size_t SHORT_READ_MAX = 16;
const char* const KNOWN_NAMES[] = {SETTINGS_SECTION, "IPAddress", "Range", "Gain", "settings", "RANGE"};
constexpr int KNOWN_NAME_COUNT = sizeof KNOWN_NAMES / sizeof KNOWN_NAMES[0];

struct Text {
    const char* bytes;
    size_t length;
};

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// A printable character other than the ones that shape a line ("[", "]", "=").
char plain_character(uint8_t byte)
{
    char c = static_cast<char>(' ' + byte % 95);
    return c == '[' || c == ']' || c == '=' ? 'x' : c;
}

// A known name, printable characters or any bytes (never zero: these are C strings).
void take_text(FuzzedDataProvider* fuzz, char* text, int max_length)
{
    int kind = fuzz->ConsumeIntegralInRange<int>(0, KNOWN_NAME_COUNT + 1);
    if (kind < KNOWN_NAME_COUNT) {
        strcpy(text, KNOWN_NAMES[kind]);
        return;
    }
    int length = fuzz->ConsumeIntegralInRange<int>(0, max_length);
    for (int i = 0; i < length; ++i) {
        uint8_t byte = fuzz->ConsumeIntegral<uint8_t>();
        text[i] = kind == KNOWN_NAME_COUNT ? plain_character(byte) : static_cast<char>(byte == 0 ? 1 : byte);
    }
    text[length] = 0;
}

bool is_plain_character(char c)
{
    return c >= ' ' && c <= '~' && c != '[' && c != ']' && c != '=';
}

bool is_plain_value(const char* value)
{
    for (const char* c = value; *c; ++c) {
        if (!is_plain_character(*c)) return false;
    }
    return true;
}

// A name the reader finds again as written: plain, not empty, no blank at either end.
bool is_plain_name(const char* name)
{
    size_t length = strlen(name);
    return length > 0 && name[0] != ' ' && name[length - 1] != ' ' && is_plain_value(name);
}

bool same_name(const char* a, const char* b)
{
    return strcasecmp(a, b) == 0;
}

// What reading back a plain value gives: blanks at either end dropped; quotes
// around it would be dropped too, so those values are not compared.
bool expected_read_back(const char* value, char* expected)
{
    while (*value == ' ') ++value;
    size_t length = strlen(value);
    while (length > 0 && value[length - 1] == ' ') --length;
    if (length >= 2 && (value[0] == '"' || value[0] == '\'') && value[length - 1] == value[0]) return false;
    memcpy(expected, value, length);
    expected[length] = 0;
    return true;
}

void get(Text text, const char* section, const char* key, char* value)
{
    profile_text_get(text.bytes, text.length, section, key, "fallback", value, READ_BACK_SIZE);
    require(strlen(value) < READ_BACK_SIZE);
}

// The edited text lives in a buffer of exactly the promised capacity, so the
// address sanitizer sees any write past it.
std::unique_ptr<char[]> set(Text text, const char* section, const char* key, const char* value, Text* edited)
{
    size_t capacity = profile_text_set_capacity(text.length, section, key, value);
    std::unique_ptr<char[]> bytes(new char[capacity]);
    edited->length = profile_text_set(text.bytes, text.length, section, key, value, bytes.get());
    edited->bytes = bytes.get();
    require(edited->length <= capacity);
    return bytes;
}

void read_settings(Text text)
{
    char value[PROFILE_VALUE_SIZE];
    profile_text_get(text.bytes, text.length, SETTINGS_SECTION, "IPAddress", DEFAULT_ADDRESS, value, sizeof value);
    require(strlen(value) < sizeof value);
    profile_text_get(text.bytes, text.length, SETTINGS_SECTION, "Range", "30", value, sizeof value);
    int range = settings_range_from_text(value);
    require(range >= 5 && range <= 100);
    profile_text_get(text.bytes, text.length, SETTINGS_SECTION, "Gain", "3", value, sizeof value);
    int gain = settings_gain_from_text(value);
    require(gain >= 0 && gain <= 20);
}

// A value buffer of any small size gets a terminated value and nothing past its size.
void read_short(Text text, const char* section, const char* key, size_t size)
{
    char value[SHORT_READ_MAX];
    memset(value, '#', sizeof value);
    profile_text_get(text.bytes, text.length, section, key, "fallback", value, size);
    require(memchr(value, 0, size) != nullptr);
    for (size_t i = size; i < sizeof value; ++i) require(value[i] == '#');
}

// The edit reads back as written, leaves other keys as they were, and
// writing the same value again changes nothing.
void check_edit(Text text, Text edited, const char* section, const char* key, const char* value,
                const char* other_section, const char* other_key)
{
    char expected[READ_BACK_SIZE];
    char read_back[READ_BACK_SIZE];
    if (expected_read_back(value, expected)) {
        get(edited, section, key, read_back);
        require(strcmp(read_back, expected) == 0);
    }
    char before_edit[READ_BACK_SIZE];
    char after_edit[READ_BACK_SIZE];
    if (!same_name(other_key, key)) {
        get(text, section, other_key, before_edit);
        get(edited, section, other_key, after_edit);
        require(strcmp(before_edit, after_edit) == 0);
    }
    if (!same_name(other_section, section)) {
        get(text, other_section, other_key, before_edit);
        get(edited, other_section, other_key, after_edit);
        require(strcmp(before_edit, after_edit) == 0);
    }
    Text again;
    std::unique_ptr<char[]> again_bytes = set(edited, section, key, value, &again);
    require(again.length == edited.length && memcmp(again.bytes, edited.bytes, edited.length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider fuzz(data, size);
    char section[NAME_MAX_LENGTH + 1];
    char key[NAME_MAX_LENGTH + 1];
    char other_section[NAME_MAX_LENGTH + 1];
    char other_key[NAME_MAX_LENGTH + 1];
    char value[VALUE_MAX_LENGTH + 1];
    take_text(&fuzz, section, NAME_MAX_LENGTH);
    take_text(&fuzz, key, NAME_MAX_LENGTH);
    take_text(&fuzz, value, VALUE_MAX_LENGTH);
    take_text(&fuzz, other_section, NAME_MAX_LENGTH);
    take_text(&fuzz, other_key, NAME_MAX_LENGTH);
    size_t short_read_size = fuzz.ConsumeIntegralInRange<size_t>(1, SHORT_READ_MAX);
    // The text gets a buffer of its own length, so a read past its end is caught.
    size_t length = fuzz.remaining_bytes();
    std::unique_ptr<char[]> text_bytes(new char[length]);
    memcpy(text_bytes.get(), data, length);
    Text text = {text_bytes.get(), length};

    read_settings(text);
    read_short(text, section, key, short_read_size);
    char read[READ_BACK_SIZE];
    get(text, section, key, read);

    Text edited;
    std::unique_ptr<char[]> edited_bytes = set(text, section, key, value, &edited);
    bool plain = is_plain_name(section) && is_plain_name(key) && is_plain_value(value) &&
                 is_plain_name(other_section) && is_plain_name(other_key);
    if (plain) check_edit(text, edited, section, key, value, other_section, other_key);
    return 0;
}
