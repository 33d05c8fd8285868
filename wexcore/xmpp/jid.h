// XMPP addresses and the screen names under which the bot sees them.
#pragma once

#include <string>

namespace wexcore::xmpp {

// "node@domain/resource" split into its parts; node and resource may be empty.
struct Jid {
    std::string node, domain, resource;
    std::string Bare() const { return node.empty() ? domain : node + "@" + domain; }
    std::string Full() const { return resource.empty() ? Bare() : Bare() + "/" + resource; }
};

Jid ParseJid(const std::string& text);

// The screen name of an address: its local part on the service's domain,
// otherwise its bare address.
std::string PeerName(const Jid& jid, const std::string& domain);

// The bare address of a screen name: on the service's domain unless the
// name is an address itself.
std::string PeerAddress(const std::string& name, const std::string& domain);

// Domain names compare without regard to ASCII case.
bool SameDomain(const std::string& a, const std::string& b);

}  // namespace wexcore::xmpp
