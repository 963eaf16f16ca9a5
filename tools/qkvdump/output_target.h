// What qkvdump may write its outputs over: never one of the files it reads
// (however named: the same file by another path or link is still that file)
// nor a data file (a name ending in .QKV, or a file starting as a record
// does), so that an OUT forgotten on the command line (--png *.QKV) cannot
// turn a recording into a picture.
#pragma once

// True when option's OUT path may be written; else says why, naming what
// would have been written ("picture", "track"). in_place: OUT is there and
// no regular file (a device), so it is written as it is, not replaced.
bool output_target_allowed(const char* option, const char* what, const char* path, const char* const* files, int count,
                           bool* in_place);
// Named as the program names its data files, letter case ignored.
bool output_is_data_file_name(const char* path);
