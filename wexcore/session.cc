#include "wexcore/session.h"

#include <atomic>

#include "wexcore/events.h"

namespace wexcore {

namespace {
std::atomic<SessionObject*> g_activeSession{nullptr};
}  // namespace

SessionObject::SessionObject()
    : m_spClientInfo(new ClientInfoObject()), m_spConnectionPoint(new ConnectionPointObject()) {}

SessionObject::~SessionObject() {
    SessionObject* self = this;
    g_activeSession.compare_exchange_strong(self, nullptr);
}

SessionObject* SessionObject::Active() {
    return g_activeSession.load();
}

HRESULT SessionObject::QueryInterface(WexIid iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWexSession) {
        *ppv = static_cast<IWexSession*>(this);
    } else if (iid == IID_IWexSession2) {
        *ppv = static_cast<IWexSession2*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT SessionObject::GetClientInfo(IWexClientInfo** info) {
    if (info == nullptr) return E_POINTER;
    m_spClientInfo->AddRef();
    *info = m_spClientInfo.get();
    return S_OK;
}

HRESULT SessionObject::put_PrefsHook(IWexPrefsHook* hook) {
    m_spPrefsHook = WexPtr<IWexPrefsHook>(hook);
    return S_OK;
}

HRESULT SessionObject::SetSignOnName(WEXSTR name) {
    if (StrLength(name) == 0) return E_INVALIDARG;
    m_signOnName = Utf8Of(name);
    return S_OK;
}

HRESULT SessionObject::SignOn(WEXSTR password) {
    std::unique_ptr<Service> service = TakePreparedService(m_serviceDescription);
    if (!service) return WEX_E_INVALID_SERVER_NAME;
    std::shared_ptr<Service> shared(std::move(service));
    {
        std::lock_guard<std::mutex> lk(m_mu);
        m_service = shared;
    }
    g_activeSession = this;
    SignOnInfo info{m_signOnName, Utf8Of(password), m_spClientInfo->Description(), m_inbox};
    return shared->SignOn(info);
}

HRESULT SessionObject::DeclineSecurId(WEXSTR) {
    std::lock_guard<std::mutex> lk(m_mu);
    if (!m_service) return WEX_E_NOT_LOGGED_ON;
    m_service->DeclineSecurId();
    return S_OK;
}

HRESULT SessionObject::GetSignedOnName(WEXSTR* name) {
    if (name == nullptr) return E_POINTER;
    std::string signedOn;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        signedOn = m_service ? m_service->SignedOnName() : std::string();
    }
    return StrFromText(signedOn.c_str(), name);
}

HRESULT SessionObject::SetSessionProperty(int32_t property, const WexVariant& value) {
    if (property == WEX_PROP_SERVICE || property == WEX_PROP_PRIORITY_PEER ||
        property == WEX_PROP_PRIORITY_PEER2) {
        if (value.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        std::string text = Utf8Of(value.bstrVal);
        if (property == WEX_PROP_SERVICE) {
            m_serviceDescription = text;
        } else {
            // Slot 0 holds the first priority peer, slot 1 the second.
            size_t slot = property == WEX_PROP_PRIORITY_PEER ? 0 : 1;
            if (m_inbox.priorityPeers.size() < 2) m_inbox.priorityPeers.resize(2);
            m_inbox.priorityPeers[slot] = text;
        }
    }
    if (property == WEX_PROP_FLOOD_LIMIT || property == WEX_PROP_FLOOD_SECONDS) {
        WexVariant number;
        HRESULT hr = ChangeVariantType(&number, &value, VT_I4);
        if (Failed(hr)) return hr;
        if (number.lVal < 0) return E_INVALIDARG;
        if (property == WEX_PROP_FLOOD_LIMIT) {
            m_inbox.limit = number.lVal;
        } else {
            m_inbox.windowMs = int64_t{number.lVal} * 1000;
        }
    }
    // Other properties tune the session and need nothing from this component.
    return S_OK;
}

HRESULT SessionObject::OpenImSession(WEXSTR screenName, int32_t, IWexImSession** imSession) {
    if (imSession == nullptr) return E_POINTER;
    *imSession = nullptr;
    std::shared_ptr<Service> service;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        service = m_service;
    }
    if (!service) return WEX_E_NOT_LOGGED_ON;
    std::string peer = Utf8Of(screenName);
    uint32_t id = 0;
    HRESULT hr = service->OpenImSession(peer, &id);
    if (Failed(hr)) return hr;
    *imSession = new ImSessionObject(service, id, peer);
    (*imSession)->AddRef();
    return S_OK;
}

HRESULT SessionObject::MakeIm(int32_t, const char16_t*, IWexIm** im) {
    if (im == nullptr) return E_POINTER;
    *im = new ImObject();
    (*im)->AddRef();
    return S_OK;
}

HRESULT SessionObject::SendElementIm(WEXSTR peer, IWexIm* im) {
    if (im == nullptr) return E_POINTER;
    std::shared_ptr<Service> service;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        service = m_service;
    }
    if (!service) return WEX_E_NOT_LOGGED_ON;
    ExtraElement element = static_cast<ImObject*>(im)->Extras().element;
    if (element.Empty()) return E_INVALIDARG;
    return service->SendIm(0, Utf8Of(peer), "", ImExtras{element, true});
}

HRESULT SessionObject::SetFarewellIm(WEXSTR peer, IWexIm* im) {
    std::shared_ptr<Service> service;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        service = m_service;
    }
    if (!service) return WEX_E_NOT_LOGGED_ON;
    // Only the component's own messages can be given.
    ExtraElement element = im ? static_cast<ImObject*>(im)->Extras().element : ExtraElement();
    service->SetFarewell(Utf8Of(peer), element);
    return S_OK;
}

HRESULT SessionObject::FindConnectionPoint(WexIid iid, IWexConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (iid != DIID_DWexSessionEvents) return E_NOINTERFACE;
    m_spConnectionPoint->AddRef();
    *point = m_spConnectionPoint.get();
    return S_OK;
}

HRESULT SessionObject::RunEventLoop() {
    std::shared_ptr<Service> service;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        service = m_service;
    }
    if (!service) return WEX_E_NOT_LOGGED_ON;
    WexPtr<IWexSession> keepAlive(this);
    return service->RunEventLoop(*this);
}

void SessionObject::EndEventLoop(HRESULT code) {
    std::lock_guard<std::mutex> lk(m_mu);
    if (m_service) m_service->EndEventLoop(code);
}

void SessionObject::Fire(int32_t dispId, WexVariant* args, uint32_t argCount) {
    m_spConnectionPoint->Fire(dispId, args, argCount);
    for (uint32_t i = 0; i < argCount; ++i) ClearVariant(&args[i]);
}

void SessionObject::OnState(int32_t state, HRESULT code) {
    WexVariant args[3];
    SetVariantUnknown(&args[0], static_cast<IWexSession*>(this));
    SetVariantInt(&args[1], state);
    SetVariantInt(&args[2], code);
    Fire(100, args, 3);
}

void SessionObject::OnRequest(const std::shared_ptr<RequestRecord>& request) {
    WexVariant args[4];
    SetVariantUnknown(&args[0], static_cast<IWexSession*>(this));
    WexPtr<IWexRequest> req(new RequestObject(m_service, request));
    SetVariantUnknown(&args[1], req.get());
    SetVariantInt(&args[2], request->state);
    SetVariantInt(&args[3], 0);
    Fire(501, args, 4);
}

void SessionObject::OnIm(const std::string& peer, uint32_t imSession, const std::string& text,
                         int32_t skipped) {
    WexVariant args[4];
    SetVariantUnknown(&args[0], static_cast<IWexSession*>(this));
    WexPtr<IWexImSession> session(new ImSessionObject(m_service, imSession, peer));
    SetVariantUnknown(&args[1], session.get());
    WexPtr<IWexParticipant> participant(new ParticipantObject(peer));
    SetVariantUnknown(&args[2], participant.get());
    WexPtr<IWexIm> im(new ImObject(text, skipped));
    SetVariantUnknown(&args[3], im.get());
    Fire(604, args, 4);
}

// Event 300: the session, the participant, 1 when it came online or 0 when
// it went offline, and 1 when the peer was online already and a client of
// it announced itself again, else 0.
void SessionObject::OnPresence(const std::string& peer, bool online, bool again) {
    WexVariant args[4];
    SetVariantUnknown(&args[0], static_cast<IWexSession*>(this));
    WexPtr<IWexParticipant> participant(new ParticipantObject(peer));
    SetVariantUnknown(&args[1], participant.get());
    SetVariantInt(&args[2], online ? 1 : 0);
    SetVariantInt(&args[3], again ? 1 : 0);
    Fire(300, args, 4);
}

}  // namespace wexcore
