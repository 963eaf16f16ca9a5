// What qkvdump needs from the operating system: for --follow the terminal it
// draws on (keys, size, signals) and the data file it reads while another
// program writes it; for every run what a path names (which file, what kind,
// when created); for pictures a new file beside another and the move of one
// over the other. One backend per system, posix_viewer.cpp and
// win32_viewer.cpp, with the same functions in the same order; CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// What a path names, found without opening it for reading: no wait on a pipe, no conflict with a writer that
// shares nothing.
struct ViewerLook {
    bool regular;     // a plain file: not a directory, pipe or device
    bool identified;  // volume and index are known
    uint64_t volume;  // with index: the same pair is the same file, however it is named
    uint64_t index;
    int64_t created;  // when it was created, in the system's own units: its birth time, or where the file
                      // system keeps none, the last change of its status
};
// False when nothing is there, or it cannot be looked at.
bool viewer_look(const char* path, ViewerLook* look);

inline bool viewer_same_file(const ViewerLook& a, const ViewerLook& b)
{
    return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}

typedef intptr_t ViewerFile;
// Opens a regular file for reading, sharing it with its writer, without waiting (a pipe with no writer is
// refused at once); look tells which file it is. False with the reason.
bool viewer_file_open(const char* path, ViewerFile* file, ViewerLook* look, char* reason, size_t reason_size);
// The file's size now; -1 when it cannot be told.
long long viewer_file_size(ViewerFile file);
// Reads count bytes at offset; false unless all of them came.
bool viewer_file_read(ViewerFile file, long long offset, uint8_t* bytes, size_t count);
void viewer_file_close(ViewerFile file);

// Creates a new file in path's directory, named after path, to be written and then moved over path; its name
// goes to temp. Null with the reason.
FILE* viewer_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size);
// Moves the file from over the file to in one step, replacing it: to is always the old file or the new one.
// False with the reason, from left where it was.
bool viewer_replace(const char* from, const char* to, char* reason, size_t reason_size);
