#include "wexcore/xmpp/strophe_handles.h"

#include <mutex>

namespace wexcore::xmpp {

void InitializeStrophe() {
    static std::once_flag once;
    std::call_once(once, [] { xmpp_initialize(); });
}

std::string TakeString(xmpp_ctx_t* ctx, char* text) {
    if (text == nullptr) return "";
    std::string copy(text);
    xmpp_free(ctx, text);
    return copy;
}

std::string Attribute(xmpp_stanza_t* stanza, const char* name) {
    const char* value = xmpp_stanza_get_attribute(stanza, name);
    return value == nullptr ? "" : value;
}

}  // namespace wexcore::xmpp
