// qkvdump's listing: each record's line or CSV row (store/scan.h) with the
// columns the run adds, of the ping as located.
#pragma once

#include "store/scan.h"
#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/ping_export.h"

// The CSV header: the scanner's columns, then the position's with --nav, the range in metres, the depth's with
// --depth, and where the depths are reduced the reference's, the corrections' and the flag's.
void listing_header(const Scanner* scanner, const DumpOptions* options);
// The ping's line, its view's texts made printable, ending in the same words as the header (as fields in the text
// listing, with a reduced ping's flags where it has any); nothing where the scanner's format has no lines.
// reference: the name of the reference its reduced depth is below.
void listing_line(const Scanner* scanner, const DumpOptions* options, const char* reference, RecordView* view,
                  const ExportPing* ping);
