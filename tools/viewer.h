// What qkvdump --follow needs from the operating system: the terminal it
// draws on (keys, size, signals) and the data file it reads while another
// program writes it. One backend per system, posix_viewer.cpp and
// win32_viewer.cpp, with the same functions in the same order; CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>

// Takes the terminal: keys come one at a time, unechoed, Ctrl+C among them,
// and escape sequences are understood. Null when it is taken; otherwise why
// it cannot be, and nothing is changed.
const char* viewer_start();
// Puts the terminal back as it was found.
void viewer_stop();
void viewer_size(int* rows, int* columns);

enum ViewerEvent {
    VIEWER_NOTHING,   // the time is up, or a key that does nothing
    VIEWER_QUIT,      // q, Esc or Ctrl+C
    VIEWER_RESIZED,
    VIEWER_ENDED,     // a signal or console event ends the process: finish and call viewer_end_as_asked
};
// Waits at most wait_ms for one of the events; a resize or an end cuts the wait short.
ViewerEvent viewer_wait(int wait_ms);
// UTF-8 text and escape sequences to the terminal. Gives up on a write that fails, or that waits when an
// end is asked (a terminal that takes nothing more).
void viewer_write(const char* text, size_t count);
// After viewer_stop, once VIEWER_ENDED came: ends the process as the signal or event would have.
void viewer_end_as_asked();

typedef intptr_t ViewerFile;
// Opens a file for reading, sharing it with its writer; false with the reason.
bool viewer_file_open(const char* path, ViewerFile* file, char* reason, size_t reason_size);
// The file's size now; -1 when it cannot be told.
long long viewer_file_size(ViewerFile file);
// Reads count bytes at offset; false unless all of them came.
bool viewer_file_read(ViewerFile file, long long offset, uint8_t* bytes, size_t count);
void viewer_file_close(ViewerFile file);
