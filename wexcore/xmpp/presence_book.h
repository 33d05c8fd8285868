// Which clients (resources) of each peer are online. A peer is online while
// any of its clients is; the book reports only when that changes from what
// it last reported.
//
// A new stream (not a resumed one) knows nothing of the old stream's
// clients: a server that restarted gave them new resources, and the
// unavailable presence of the old ones may never come. So the book forgets
// every client, takes what the server announces after the user's initial
// presence, and once that is complete reports offline each peer it had
// reported online and that was not announced again.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wexcore::xmpp {

class PresenceBook {
public:
    // Notes that the client resource of peer (a bare address) became
    // available or unavailable. Returns the peer's new state when it
    // changed, else nothing.
    std::optional<bool> Update(const std::string& peer, const std::string& resource,
                               bool available);
    // A new stream began: every client known so far is forgotten, and the
    // peers' states are rebuilt from the announcements that follow.
    void NewStream();
    // The server's announcements on the new stream are complete. Returns
    // the peers that were online and were not announced: they are offline
    // now. Does nothing outside a rebuild.
    std::vector<std::string> Settle();

private:
    std::map<std::string, std::set<std::string>> m_clients;
    std::map<std::string, bool> m_reported;  // each peer's state as last reported
    bool m_rebuilding = false;
};

}  // namespace wexcore::xmpp
