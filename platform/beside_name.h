// The name of a file made beside another to be moved over it: the other's
// name with the process number, the attempt and ".tmp" after it, its last
// component cut short where that would pass the length a directory entry
// takes (never inside a UTF-8 character). Shared by both files backends;
// pure text work, no system calls.
#pragma once

#include <cstddef>

// The length of a name in a directory both systems take: 255 bytes on Linux's file systems, 255 characters
// (at least as many bytes) on Windows'.
constexpr size_t BESIDE_NAME_COMPONENT_MAX = 255;

// Why no more such files can be made while PLAT_BESIDE_MAX are: said alike by both backends.
void beside_name_none_left(char* reason, size_t size);

// separators: the characters that end a directory's name ("/", or "/\\" on Windows). The name's length, or -1
// when it does not fit in size.
int beside_name_make(const char* path, unsigned long process, int attempt, const char* separators, char* temp,
                     size_t size);
