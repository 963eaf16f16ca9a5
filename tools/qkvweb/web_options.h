// qkvweb's command line.
#pragma once

#include <cstdint>

#include "cmdline/cmdline.h"
#include "platform/address_text.h"
#include "reduction/ping_reduce.h"

constexpr long WEB_STALE_AFTER_DEFAULT_S = 10;
constexpr long WEB_MAX_CLIENTS_DEFAULT = 64;
constexpr long WEB_MAX_CLIENTS_LIMIT = 200;
constexpr int WEB_LISTEN_TEXT_SIZE = 32;

struct WebOptions {
    uint8_t address[ADDRESS_TEXT_PARTS];  // the IPv4 address listened on, in order
    uint16_t port;
    char listen_text[WEB_LISTEN_TEXT_SIZE];  // "127.0.0.1:8080", as the messages name it
    long stale_after_s;
    long max_clients;
    // The depth shown, as qkvdump --follow --depth reduces it: below the transducer, the surface with --draft, or a
    // datum; its files read as the server starts.
    bool draft_given;
    bool reducing;  // an option of the reduction given: depths through reduction/ping_reduce.h
    ReductionAsked reduction;  // the draft among its settings
};

enum WebParse { WEB_PARSE_RUN, WEB_PARSE_HELP, WEB_PARSE_VERSION, WEB_PARSE_BAD };

extern const char QKVWEB_USAGE[];
// Reads the arguments; for WEB_PARSE_BAD, message says why.
WebParse web_parse(int argc, const char* const* argv, WebOptions* options, char message[CMDLINE_MESSAGE_SIZE]);
