// parse_uri.cpp - splits an address text in place into a ParsedURI record.
//
// Form: [scheme:]path, or [scheme:]//host[:port][,name[=value]]*/path.
// The parser writes terminators into the caller's text and stores pointers
// into it; it allocates nothing and keeps no state, so concurrent calls on
// different texts are safe.
#include "platform/win32.h"
#include "zv.h"

namespace {

enum State {
    kStart,
    kScheme,
    kFirstSlash,
    kHost,
    kPort,
    kAttributeName,
    kAttributeValue,
    kPath,
};

const ZVWCHAR kDoubleSlash[] = ZV_W("//");
const ZVWCHAR kDoubleComma[] = ZV_W(",,");
const ZVWCHAR kTransport[] = ZV_W("transport");
const ZVWCHAR kTransportShort[] = ZV_W("t");
const ZVWCHAR kLink[] = ZV_W("link");
const ZVWCHAR kLinkShort[] = ZV_W("l");

// The last even place that can still take a name; a comma seen with the
// next free place beyond it is refused.
const DWORD kLastNamePlace = 6;

bool IsKeyword(const ZVWCHAR* name, const ZVWCHAR* full, const ZVWCHAR* single) {
    return ZVStrCmpW(name, full) == 0 || ZVStrCmpW(name, single) == 0;
}

}  // namespace

extern "C" {

ZV_API int32_t ParseURI(ZVWCHAR* text, ParsedURI* parsed) {
    if (text == nullptr || parsed == nullptr) return 1;
    ZVZeroMemory(parsed, sizeof(ParsedURI));

    bool hasDoubleSlash = ZVStrStrW(text, kDoubleSlash) != nullptr;
    bool hasColon = ZVStrChrW(text, ZV_W(':')) != nullptr;
    // A text with ",," is never walked: no path is found, so it is refused.
    bool walk = ZVStrStrW(text, kDoubleComma) == nullptr;

    bool refused = false;
    State state = kStart;
    DWORD nextPlace = 0;  // next free place in attributes[]
    DWORD namePlace = 0;  // place of the attribute name being read (state 5)

    for (ZVWCHAR* p = text; walk && *p != 0 && !refused; ++p) {
        const ZVWCHAR c = *p;
        switch (state) {
            case kStart:
                if (c == ZV_W('/')) {
                    if (hasDoubleSlash)
                        state = kFirstSlash;
                    else
                        refused = true;
                } else if (c == ZV_W(':')) {
                    *p = 0;
                    refused = true;
                } else if (c == ZV_W(',') || c == ZV_W('=')) {
                    refused = true;
                } else if (!hasDoubleSlash && !hasColon) {
                    parsed->path = p;
                    state = kPath;
                } else if (parsed->scheme != nullptr) {
                    refused = true;
                } else {
                    parsed->scheme = p;
                    state = kScheme;
                }
                break;

            case kScheme:
                if (c == ZV_W(':')) {
                    *p = 0;
                    // What follows the scheme may be a bare path again.
                    hasColon = false;
                    state = kStart;
                } else if (c == ZV_W('/') || c == ZV_W(',') || c == ZV_W('=')) {
                    refused = true;
                }
                break;

            case kFirstSlash:
                if (c == ZV_W('/')) {
                    parsed->host = p + 1;
                    state = kHost;
                } else {
                    if (c == ZV_W(':')) *p = 0;
                    refused = true;
                }
                break;

            case kHost:
            case kPort:
            case kAttributeName:
            case kAttributeValue:
                if (c == ZV_W('/')) {
                    *p = 0;
                    parsed->path = p + 1;
                    state = kPath;
                } else if (c == ZV_W(':')) {
                    *p = 0;
                    if (state == kHost) {
                        parsed->port = p + 1;
                        state = kPort;
                    } else {
                        refused = true;
                    }
                } else if (c == ZV_W(',')) {
                    // The room test comes before a pending name's value
                    // place is skipped.
                    if (nextPlace > kLastNamePlace) {
                        refused = true;
                        break;
                    }
                    if (state == kAttributeName) ++nextPlace;
                    *p = 0;
                    namePlace = nextPlace;
                    parsed->attributes[namePlace] = p + 1;
                    nextPlace = namePlace + 1;
                    state = kAttributeName;
                } else if (c == ZV_W('=')) {
                    if (state != kAttributeName) {
                        refused = true;
                        break;
                    }
                    *p = 0;
                    const ZVWCHAR* name = parsed->attributes[namePlace];
                    if (IsKeyword(name, kTransport, kTransportShort)) {
                        parsed->transport = p + 1;
                        parsed->attributes[namePlace] = nullptr;
                        nextPlace = namePlace;
                    } else if (IsKeyword(name, kLink, kLinkShort)) {
                        parsed->link = p + 1;
                        parsed->attributes[namePlace] = nullptr;
                        nextPlace = namePlace;
                    } else {
                        parsed->attributes[namePlace + 1] = p + 1;
                        nextPlace = namePlace + 2;
                    }
                    state = kAttributeValue;
                }
                break;

            case kPath:
                if (c == ZV_W(':')) *p = 0;
                if (c == ZV_W('/') || c == ZV_W(':') || c == ZV_W(',') || c == ZV_W('='))
                    refused = true;
                break;
        }
    }

    if (parsed->path == nullptr || *parsed->path == 0) return 1;
    if (parsed->host != nullptr && *parsed->host == 0) parsed->host = nullptr;
    return refused ? 1 : 0;
}

}  // extern "C"
