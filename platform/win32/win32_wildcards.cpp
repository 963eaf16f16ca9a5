// Asks the C runtime's start-up to expand wildcards in the command line's
// arguments (qkvdump *.QKV), which on Windows the shell leaves to the program.
// A pattern that matches nothing stays as it was typed.
extern "C" {
int _dowildcard = -1;
}
