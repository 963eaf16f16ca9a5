// Within the POSIX backend: what the handler of the signals that end a run
// on purpose does besides putting the terminal back. Async-signal-safe.
#pragma once

// Removes the data file noted by plat_file_remove_empty_at_end when it is
// still empty and still has its name.
void posix_remove_empty_file_at_end();
