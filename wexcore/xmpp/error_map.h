// How XMPP failures become the component's result codes.
#pragma once

#include <string>

#include "wexcore/result_codes.h"

namespace wexcore::xmpp {

// The code for a message that the server bounced with the stanza error
// condition (the element name, e.g. "service-unavailable").
HRESULT StanzaErrorResult(const std::string& condition);

// How one stream, or one attempt to open it, came to an end.
struct StreamEnd {
    bool everOnline = false;    // some stream of this sign-on reached state 500
    bool authRejected = false;  // the server refused the password
    bool certRejected = false;  // the server's certificate was not trusted
    bool conflict = false;      // another login with the same address replaced this one
};

// S_OK when the component should reconnect, else the code with which the
// session goes offline for good.
HRESULT OfflineResult(const StreamEnd& end);

}  // namespace wexcore::xmpp
