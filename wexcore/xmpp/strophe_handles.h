// Owners for libstrophe's objects, so each is freed exactly once.
#pragma once

#include <strophe.h>

#include <memory>
#include <string>

namespace wexcore::xmpp {

// Initialises libstrophe once per process; safe from any thread.
void InitializeStrophe();

struct ContextDeleter {
    void operator()(xmpp_ctx_t* ctx) const { xmpp_ctx_free(ctx); }
};
struct ConnectionDeleter {
    void operator()(xmpp_conn_t* conn) const { xmpp_conn_release(conn); }
};
struct StanzaDeleter {
    void operator()(xmpp_stanza_t* stanza) const { xmpp_stanza_release(stanza); }
};

using ContextPtr = std::unique_ptr<xmpp_ctx_t, ContextDeleter>;
using ConnectionPtr = std::unique_ptr<xmpp_conn_t, ConnectionDeleter>;
using StanzaPtr = std::unique_ptr<xmpp_stanza_t, StanzaDeleter>;

// Takes over a string that libstrophe allocated on ctx and frees it;
// gives "" for null.
std::string TakeString(xmpp_ctx_t* ctx, char* text);

// An attribute's value, "" when it is absent.
std::string Attribute(xmpp_stanza_t* stanza, const char* name);

}  // namespace wexcore::xmpp
