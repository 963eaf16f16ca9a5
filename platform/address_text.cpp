#include "platform/address_text.h"

namespace {

const int OCTET_MAX = 255;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads one part from *text up to the first non-digit; false when it has no
// digits or exceeds 255.
bool read_part(const char** text, uint8_t* octet)
{
    const char* at = *text;
    int value = 0;
    for (; is_digit(*at); ++at) {
        value = value * 10 + (*at - '0');
        if (value > OCTET_MAX) return false;
    }
    if (at == *text) return false;
    *octet = static_cast<uint8_t>(value);
    *text = at;
    return true;
}

}  // namespace

bool address_text_decimal(const char* text, uint8_t octets[ADDRESS_TEXT_PARTS])
{
    for (int part = 0; part < ADDRESS_TEXT_PARTS; ++part) {
        if (part > 0 && *text++ != '.') return false;
        if (!read_part(&text, &octets[part])) return false;
    }
    return *text == '\0';
}
