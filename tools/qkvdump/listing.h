// qkvdump's listing: each record's line or CSV row (store/scan.h) with the
// columns the run adds, of the ping as located.
#pragma once

#include "store/scan.h"
#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/ping_export.h"

// The CSV header: the scanner's columns, then the position's with --nav, the range in metres, and the depth's
// with --depth.
void listing_header(const Scanner* scanner, const DumpOptions* options);
// The ping's line, its view's texts made printable, ending in the same words as the header (as fields in the text
// listing); nothing where the scanner's format has no lines.
void listing_line(const Scanner* scanner, const DumpOptions* options, RecordView* view, const ExportPing* ping);
