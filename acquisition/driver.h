// The program's one loop: start-up, one switch command and one return packet
// per pass until a key is pressed, then shut-down. Returns the exit status.
#pragma once

int acquisition_run();
