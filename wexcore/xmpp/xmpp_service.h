// The messaging service on a real XMPP server, through libstrophe.
#pragma once

#include <memory>
#include <string>

#include "wexcore/service.h"

namespace wexcore {

struct XmppConfig {
    std::string domain;  // the accounts' domain, lower case
    std::string host;    // where to connect; empty: the domain's SRV record
    int port = 5222;
    bool hostGiven = false;
    enum class Tls { kRequired, kOff } tls = Tls::kRequired;
    enum class Trust { kSystem, kAny } trust = Trust::kSystem;

    // Timing; the defaults suit a lab, tests shorten them.
    // A message or keepalive ping left unanswered this long means the link
    // is dead: the stream is dropped and resumed. The send itself waits on.
    int sendTimeoutMs = 20000;
    int reconnectMinMs = 1000;       // first wait after a lost stream
    int reconnectMaxMs = 30000;      // the wait doubles up to this
    int handshakeTimeoutMs = 30000;  // connect, TLS and login together
    int keepaliveMs = 60000;         // ping the server after this much quiet
};

// Parses the part after "xmpp:"; false with *reason (one line) when malformed.
bool ParseXmppService(const std::string& value, XmppConfig* config, std::string* reason);

std::unique_ptr<Service> CreateXmppService(const XmppConfig& config);

}  // namespace wexcore
