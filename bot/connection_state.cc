// The session's connection states and incoming requests.
#include "bot/bot_client.h"
#include "bot/client_prefs.h"
#include "platform/console.h"
#include "wexcore/api.h"

void CBotClient::OnStateChange(IWexSession* piSession, int32_t state, HRESULT hr) {
    if (m_spPrefs) m_spPrefs->SetConnectionState(state);
    if (m_game.params.dropoutAfter > 0) NoteSignedOn(state == WEX_STATE_ONLINE);
    switch (state) {
        case WEX_STATE_OFFLINE:
            DetachEvents(m_spiSession.get());
            EndEventLoop(hr);
            platform::Print("wexbot offline, qutting.\n");
            break;
        case WEX_STATE_DISCONNECTED:
            platform::Print("wexbot disconnected, reconnecting...\n");
            break;
        case WEX_STATE_CONNECTING:
            platform::Print("wexbot connecting...\n");
            break;
        case WEX_STATE_SECURID:
        case WEX_STATE_SECURID_NEXT:
            platform::Print("wexbot does not support securid.\n");
            if (piSession) piSession->DeclineSecurId(nullptr);
            break;
        case WEX_STATE_ONLINE:
            platform::Print("wexbot online and ready.\n");
            if (m_resumePending) {
                platform::MutexLock lock(gameLock);
                ContinueResumedGame();
            }
            break;
        default:
            break;
    }
}

void CBotClient::OnRequest(IWexSession*, IWexRequest* piRequest, int32_t requestState) {
    if (requestState != WEX_REQUEST_PENDING || piRequest == nullptr) return;
    int32_t kind = 0;
    if (Failed(piRequest->GetRequestKind(&kind)) || kind != WEX_REQUEST_KIND_SESSION) {
        piRequest->RejectRequest(WEX_E_USER_REJECTED);
        return;
    }
    auto spiRequest2 = QueryAs<IWexRequest2>(piRequest, IID_IWexRequest2);
    CWexVariant qualifier;
    bool accept =
        spiRequest2 &&
        Succeeded(spiRequest2->GetRequestProperty(WEX_REQUEST_PROP_QUALIFIER, qualifier.get())) &&
        Succeeded(ChangeVariantType(qualifier.get(), qualifier.get(), VT_I4)) &&
        qualifier.value().lVal == 0;
    if (accept) {
        piRequest->AcceptRequest();
    } else {
        piRequest->RejectRequest(WEX_E_USER_REJECTED);
    }
}
