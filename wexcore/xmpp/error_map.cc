#include "wexcore/xmpp/error_map.h"

namespace wexcore::xmpp {

HRESULT StanzaErrorResult(const std::string& condition) {
    if (condition == "resource-constraint" || condition == "policy-violation") {
        return WEX_E_RATE_LIMITED;
    }
    if (condition == "service-unavailable" || condition == "recipient-unavailable" ||
        condition == "item-not-found" || condition == "remote-server-not-found") {
        return WEX_E_USER_UNAVAILABLE;
    }
    return WEX_E_SERVER_ERROR;
}

HRESULT OfflineResult(const StreamEnd& end) {
    if (end.conflict) return WEX_E_BUMPED;
    // A refused password or certificate stays refused: retrying cannot help.
    if (end.authRejected) return WEX_E_INVALID_PASSWORD;
    if (end.certRejected) return WEX_E_SSL_HANDSHAKE_ERROR;
    // A server that cannot be reached at sign-on ends the session; once it
    // has been online, the component keeps trying.
    if (!end.everOnline) return WEX_E_CONNECT_ERROR;
    return S_OK;
}

}  // namespace wexcore::xmpp
