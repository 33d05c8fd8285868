// The session object: signs on to the configured service and turns the
// service's callbacks into events for the attached receivers.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wexcore/objects.h"
#include "wexcore/service.h"

namespace wexcore {

class SessionObject final : public WexRefCounted<IWexSession, IWexSession2>, private ServiceSink {
public:
    SessionObject();
    ~SessionObject() override;

    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT GetClientInfo(IWexClientInfo** info) override;
    HRESULT put_PrefsHook(IWexPrefsHook* hook) override;
    HRESULT SetSignOnName(WEXSTR name) override;
    HRESULT SignOn(WEXSTR password) override;
    HRESULT DeclineSecurId(WEXSTR unused) override;
    HRESULT GetSignedOnName(WEXSTR* name) override;
    HRESULT SetSessionProperty(int32_t property, const WexVariant& value) override;
    HRESULT OpenImSession(WEXSTR screenName, int32_t flags, IWexImSession** imSession) override;
    HRESULT MakeIm(int32_t flags, const char16_t* mimeType, IWexIm** im) override;
    HRESULT FindConnectionPoint(WexIid iid, IWexConnectionPoint** point) override;
    HRESULT SendElementIm(WEXSTR peer, IWexIm* im) override;
    HRESULT SetFarewellIm(WEXSTR peer, IWexIm* im) override;

    // The signed-on session whose events RunEventLoop delivers.
    static SessionObject* Active();
    HRESULT RunEventLoop();
    void EndEventLoop(HRESULT code);

private:
    void OnState(int32_t state, HRESULT code) override;
    void OnRequest(const std::shared_ptr<RequestRecord>& request) override;
    void OnIm(const std::string& peer, uint32_t imSession, const std::string& text,
              int32_t skipped) override;
    void OnPresence(const std::string& peer, bool online, bool again) override;
    void Fire(int32_t dispId, WexVariant* args, uint32_t argCount);

    std::mutex m_mu;  // guards the service pointer
    std::shared_ptr<Service> m_service;
    std::string m_serviceDescription;
    std::string m_signOnName;
    InboxPolicy m_inbox;
    WexPtr<ClientInfoObject> m_spClientInfo;
    WexPtr<ConnectionPointObject> m_spConnectionPoint;
    WexPtr<IWexPrefsHook> m_spPrefsHook;
};

}  // namespace wexcore
