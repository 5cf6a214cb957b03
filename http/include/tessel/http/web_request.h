#pragma once
// One complete, synchronous HTTP or HTTPS exchange through WinInet.
#include <cstdint>

#include "tessel/runtime/text.h"

namespace tessel {

// The optional parameters. A null pointer is an omitted argument; an omitted output is not
// written. Only `sendCookies` behaves differently when given empty: it still switches WinInet's
// own cookie handling off.
struct WebRequestOptions {
    std::int32_t method = 0;          // index into the verb table; outside 0..7 means GET
    const char* postText = nullptr;   // body as text (not sent with GET)
    Text* sendCookies = nullptr;      // in/out: cookies to send; receives the merged list
    Text* returnedCookies = nullptr;  // out: the server's cookies, "name=value" joined by "; "
    Text* requestHeaders = nullptr;   // in/out: extra header lines; receives the block sent
    Text* responseHeaders = nullptr;  // out: the raw response header block
    bool noRedirect = false;          // leave redirects to the caller
    ByteArray* postBytes = nullptr;   // in/out: body as bytes; filled from `postText` when empty
    const char* proxy = nullptr;      // "host:port"; empty means a direct connection
    bool mergeCookies = true;         // fold the server's cookies into `sendCookies`
    // The longest body taken, in bytes; 0: no bound. A longer body is not read on: the request
    // answers the empty byte array, as for one that failed.
    std::uint32_t bodyLimit = 0;
};

// The verbs by method number.
inline constexpr const char* kHttpVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                             "OPTIONS", "DELETE", "TRACE", "CONNECT"};

// The response body exactly as received; an empty byte array when nothing came or the request
// could not be made.
ByteArray WebRequest(const char* url, const WebRequestOptions& options = {});

}  // namespace tessel
