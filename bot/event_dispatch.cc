// Delivery of the session's events to the bot's handlers.
#include <new>

#include "bot/bot_client.h"
#include "bot/guarded_call.h"
#include "bot/string_ops.h"
#include "wexcore/api.h"

namespace {

struct EventEntry {
    int32_t id;
    uint32_t argCount;
    void (CBotClient::*handler)(const WexVariant* args);
};

#define WEX_EVENT_ENTRY(id, name, argc) {id, argc, &CBotClient::name},
const EventEntry kEvents[] = {WEX_SESSION_EVENTS(WEX_EVENT_ENTRY)};
#undef WEX_EVENT_ENTRY

// An object argument asked for the interface T; empty when it has none.
template <typename T>
WexPtr<T> ObjectArg(const WexVariant& arg, WexIid iid) {
    return arg.vt == VT_UNKNOWN ? QueryAs<T>(arg.punkVal, iid) : WexPtr<T>();
}

int32_t IntArg(const WexVariant& arg) {
    WexVariant converted;
    int32_t value = 0;
    if (Succeeded(ChangeVariantType(&converted, &arg, VT_I4))) value = converted.lVal;
    ClearVariant(&converted);
    return value;
}

}  // namespace

HRESULT CBotClient::Invoke(int32_t dispId, const WexVariant* args, uint32_t argCount) {
    for (const EventEntry& entry : kEvents) {
        if (entry.id != dispId) continue;
        if (argCount < entry.argCount) break;
        HRESULT hr = GuardedCall([&] {
            (this->*entry.handler)(args);
            return S_OK;
        });
        if (Failed(hr)) {
            // A handle the bot can't do without: end the program cleanly.
            DetachEvents(m_spiSession.get());
            EndEventLoop(hr);
        }
        break;
    }
    return S_OK;
}

void CBotClient::Act(int32_t event, const WexVariant* args) {
    switch (event) {
        case 100: {
            auto session = ObjectArg<IWexSession>(args[0], IID_IWexSession);
            OnStateChange(session.get(), IntArg(args[1]), IntArg(args[2]));
            break;
        }
        case 501: {
            auto session = ObjectArg<IWexSession>(args[0], IID_IWexSession);
            auto request = ObjectArg<IWexRequest>(args[1], IID_IWexRequest);
            OnRequest(session.get(), request.get(), IntArg(args[2]));
            break;
        }
        case 300: {
            auto session = ObjectArg<IWexSession>(args[0], IID_IWexSession);
            auto participant = ObjectArg<IWexParticipant>(args[1], IID_IWexParticipant);
            OnPresence(session.get(), participant.get(), IntArg(args[2]), IntArg(args[3]));
            break;
        }
        case 604: {
            auto session = ObjectArg<IWexSession>(args[0], IID_IWexSession);
            auto imSession = ObjectArg<IWexImSession>(args[1], IID_IWexImSession);
            auto participant = ObjectArg<IWexParticipant>(args[2], IID_IWexParticipant);
            auto im = ObjectArg<IWexIm>(args[3], IID_IWexIm);
            OnImReceived(session.get(), imSession.get(), participant.get(), im.get());
            break;
        }
        default:
            break;  // the other events need nothing from the bot
    }
}

#define WEX_DEFINE_HANDLER(id, name, argc)          \
    void CBotClient::name(const WexVariant* args) { \
        Act(id, args);                              \
    }
WEX_SESSION_EVENTS(WEX_DEFINE_HANDLER)
#undef WEX_DEFINE_HANDLER
