// The head's address text as operators write it and the console shows it.
// Shared by both socket backends; pure text work, no system calls.
#pragma once

#include <cstdint>

constexpr int ADDRESS_TEXT_PARTS = 4;

// True when text is exactly four parts of decimal digits separated by dots,
// each 0 to 255; octets then holds them in order (network byte order).
// Leading zeros do not make a part octal: 127.000.005.010 is 127.0.5.10.
bool address_text_decimal(const char* text, uint8_t octets[ADDRESS_TEXT_PARTS]);
