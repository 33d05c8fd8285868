#include "wexcore/xmpp/jid.h"

#include <strings.h>

namespace wexcore::xmpp {

Jid ParseJid(const std::string& text) {
    Jid jid;
    size_t slash = text.find('/');
    std::string bare = text.substr(0, slash);
    if (slash != std::string::npos) jid.resource = text.substr(slash + 1);
    size_t at = bare.find('@');
    if (at == std::string::npos) {
        jid.domain = bare;
    } else {
        jid.node = bare.substr(0, at);
        jid.domain = bare.substr(at + 1);
    }
    return jid;
}

bool SameDomain(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string PeerName(const Jid& jid, const std::string& domain) {
    if (!jid.node.empty() && SameDomain(jid.domain, domain)) return jid.node;
    return jid.Bare();
}

std::string PeerAddress(const std::string& name, const std::string& domain) {
    if (name.find('@') != std::string::npos) return name;
    return name + "@" + domain;
}

}  // namespace wexcore::xmpp
