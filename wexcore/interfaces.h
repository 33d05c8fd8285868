// The objects of the messaging component as the bot sees them.
#pragma once

#include <cstdint>

#include "wexcore/unknown.h"
#include "wexcore/variant.h"
#include "wexcore/wex_string.h"

// Automation face of an event receiver: events arrive through Invoke with
// their arguments in declared order.
struct IWexDispatch : IWexUnknown {
    virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(uint32_t index, void** info) = 0;
    virtual HRESULT GetIDsOfNames(const char16_t** names, uint32_t count, int32_t* ids) = 0;
    virtual HRESULT Invoke(int32_t dispId, const WexVariant* args, uint32_t argCount) = 0;
};

struct IWexConnectionPoint : IWexUnknown {
    virtual HRESULT Advise(IWexDispatch* sink, uint32_t* cookie) = 0;
    virtual HRESULT Unadvise(uint32_t cookie) = 0;
};

struct IWexClientInfo : IWexUnknown {
    virtual HRESULT SetClientInfoProperty(int32_t property, const WexVariant& value) = 0;
};

struct IWexIm : IWexUnknown {
    virtual HRESULT SetImText(WEXSTR text) = 0;
    virtual HRESULT GetImText(const char16_t* mimeType, WEXSTR* text) = 0;
};

// Second interface of a received message.
struct IWexIm2 : IWexUnknown {
    virtual HRESULT GetImProperty(int32_t property, WexVariant* value) = 0;
};

// Third interface of a message the user makes: an extension element that
// goes as a child of the message, beside its body.
struct IWexIm3 : IWexUnknown {
    // Starts the element anew with its name and namespace; an empty name
    // removes it.
    virtual HRESULT SetImElement(WEXSTR name, WEXSTR ns) = 0;
    virtual HRESULT AddImElementAttribute(WEXSTR name, WEXSTR value) = 0;
    // Nonzero: the message goes without a body, only the element.
    virtual HRESULT SetImBodyless(int32_t bodyless) = 0;
};

struct IWexImSession : IWexUnknown {
    virtual HRESULT SendIm(IWexIm* im) = 0;
    virtual HRESULT EndSession() = 0;
};

struct IWexParticipant : IWexUnknown {
    virtual HRESULT GetParticipantName(WEXSTR* name) = 0;
};

struct IWexRequest : IWexUnknown {
    virtual HRESULT GetRequestKind(int32_t* kind) = 0;
    virtual HRESULT AcceptRequest() = 0;
    virtual HRESULT RejectRequest(HRESULT reason) = 0;
};

// Second interface of a request.
struct IWexRequest2 : IWexUnknown {
    virtual HRESULT GetRequestProperty(int32_t property, WexVariant* value) = 0;
};

// Preference store that the user of the component lends to the session.
struct IWexPrefsHook : IWexUnknown {
    virtual HRESULT GetValue(WEXSTR name, WexVariant* value) = 0;
    virtual HRESULT GetDefaultValue(WEXSTR name, WexVariant* value) = 0;
    virtual HRESULT SetValue(WEXSTR name, const WexVariant& value) = 0;
    virtual HRESULT Reset(WEXSTR name) = 0;
    virtual HRESULT GetChildPrefs(WEXSTR name, WexVariant* children) = 0;
};

// Session property that names the service to connect to (a string).
constexpr int32_t WEX_PROP_SERVICE = 1000;
// Session properties that guard the user against a flooding peer (see
// wexcore/inbox.h): the peer whose messages go first (a string), and how
// many messages a peer may send in how many seconds before the rest are
// folded (integers; a limit of 0 turns the rule off). A second priority
// peer (a string) goes first as well; an empty name sets none.
constexpr int32_t WEX_PROP_PRIORITY_PEER = 1001;
constexpr int32_t WEX_PROP_FLOOD_LIMIT = 1002;
constexpr int32_t WEX_PROP_FLOOD_SECONDS = 1003;
constexpr int32_t WEX_PROP_PRIORITY_PEER2 = 1004;

// Property of a received message (IWexIm2): how many earlier messages of
// the same peer were folded into it, unanswered one by one (an integer).
constexpr int32_t WEX_IM_PROP_SKIPPED = 1;

struct IWexSession : IWexUnknown {
    virtual HRESULT GetClientInfo(IWexClientInfo** info) = 0;
    virtual HRESULT put_PrefsHook(IWexPrefsHook* hook) = 0;
    virtual HRESULT SetSignOnName(WEXSTR name) = 0;
    virtual HRESULT SignOn(WEXSTR password) = 0;
    virtual HRESULT DeclineSecurId(WEXSTR unused) = 0;
    virtual HRESULT GetSignedOnName(WEXSTR* name) = 0;
    virtual HRESULT SetSessionProperty(int32_t property, const WexVariant& value) = 0;
    virtual HRESULT OpenImSession(WEXSTR screenName, int32_t flags, IWexImSession** imSession) = 0;
    virtual HRESULT MakeIm(int32_t flags, const char16_t* mimeType, IWexIm** im) = 0;
    virtual HRESULT FindConnectionPoint(WexIid iid, IWexConnectionPoint** point) = 0;
};

// Second interface of the session: messages that carry only their
// element (IWexIm3), without a body, which clients do not show.
struct IWexSession2 : IWexUnknown {
    // Sends the element of im to peer at once, outside any IM session.
    virtual HRESULT SendElementIm(WEXSTR peer, IWexIm* im) = 0;
    // A message (its element alone, without a body) that the session sends
    // to peer when a stop signal ends it, before it signs off, as far as
    // the stop's few seconds allow. A null im, or one without an element,
    // removes the peer's.
    virtual HRESULT SetFarewellIm(WEXSTR peer, IWexIm* im) = 0;
};
