// Within the Windows backend: console output is held in a block even on a
// console, and shown before every wait.
#pragma once

// Flushes stdout when it is a console; redirected output keeps its 512-byte blocks.
void win32_show_output();
