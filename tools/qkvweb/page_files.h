// The page's own files (tools/qkvweb/page/), built into the program by
// embed_page.cmake: each served at its path, "/" for index.html.
#pragma once

#include <cstddef>

struct WebPageFile {
    const char* path;
    const char* type;  // its Content-Type
    const char* bytes;
    size_t size;
};

extern const WebPageFile WEB_PAGE_FILES[];
extern const int WEB_PAGE_FILE_COUNT;
