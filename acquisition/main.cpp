#include "acquisition/driver.h"

// The command line is ignored.
int main() { return acquisition_run(); }
