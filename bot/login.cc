// Sign-on and the bot's connection to the session's events.
#include "bot/bot_client.h"
#include "bot/client_prefs.h"
#include "bot/string_ops.h"
#include "messaging/result_names.h"
#include "messaging/username_slots.h"
#include "platform/console.h"
#include "wexcore/api.h"

namespace {

// Shown on the console in place of the password.
constexpr char kMaskedPassword[] = "********";

void PrintFailure(const char* what, HRESULT hr) {
    platform::PrintFormat("%s failed with hr=%08X %s\n", what, static_cast<uint32_t>(hr),
                          ResultName(hr));
}

}  // namespace

HRESULT CBotClient::Login() {
    imAdminSession.Reset();
    imTeamASession.Reset();
    imTeamBSession.Reset();
    m_game.breakRunning = false;

    HRESULT hr = CreateComponentObject(CLSID_WexSession, m_spiSession.Out());
    if (Failed(hr)) return hr;
    hr = AttachEvents(m_spiSession.get());
    if (Failed(hr)) return hr;

    WexPtr<IWexClientInfo> spiClientInfo;
    hr = m_spiSession->GetClientInfo(spiClientInfo.Out());
    if (Failed(hr)) return hr;
    WexVariant key;
    MakeStringVariant(&key, m_account.keyText);
    hr = spiClientInfo->SetClientInfoProperty(0, key);
    ClearVariant(&key);
    if (Failed(hr)) return hr;

    hr = m_spiSession->SetSignOnName(m_account.botName.get());
    if (Failed(hr)) return hr;
    CWexVariant maxValue, noItems, service;
    SetVariantInt(maxValue.get(), 2147483647);
    SetVariantEmptyArray(noItems.get());
    m_spiSession->SetSessionProperty(12, maxValue.value());
    m_spiSession->SetSessionProperty(37, noItems.value());
    MakeStringVariant(service.get(), m_service);
    hr = m_spiSession->SetSessionProperty(WEX_PROP_SERVICE, service.value());
    if (Failed(hr)) return hr;
    hr = m_flood.Apply(m_spiSession.get(), SlotName(SLOT_MODERATOR), m_account.deskName);
    if (Failed(hr)) return hr;

    hr = CClientPrefs::Create(m_spiSession.get(), m_spPrefs.Out());
    if (Failed(hr)) {
        PrintFailure("CClientPrefs::Create", hr);
        return hr;
    }
    if (!m_spPrefs->InitPrefsMgr()) {
        platform::Print("m_spPrefs->InitPrefsMgr() failed.\n");
        return E_FAIL;
    }
    hr = m_spiSession->put_PrefsHook(m_spPrefs.get());
    if (Failed(hr)) {
        PrintFailure("m_spiSession->put_PrefsHook()", hr);
        return hr;
    }
    CWexVariant enabled;
    SetVariantBool(enabled.get(), true);
    hr =
        m_spPrefs->SetValue(MakeBstr("tarn.connect.disableLocalRateLimits").get(), enabled.value());
    if (Failed(hr)) {
        PrintFailure("m_spPrefs->SetValue()", hr);
        return hr;
    }
    platform::Print("m_spPrefs->SetValue() succeeded!\n");

    std::string name;
    ToNarrow(name, m_account.botName);
    platform::Print("logging in with username \"" + name + "\", password \"" + kMaskedPassword +
                    "\", key \"" + m_account.keyText + "\"\n");
    return m_spiSession->SignOn(m_account.botPassword.get());
}

HRESULT CBotClient::AttachEvents(IWexSession* piSession) {
    for (const EventConnection& c : m_connections) {
        if (c.source == piSession) return E_UNEXPECTED;
    }
    WexPtr<IWexConnectionPoint> point;
    HRESULT hr = piSession->FindConnectionPoint(DIID_DWexSessionEvents, point.Out());
    if (Failed(hr)) return hr;
    uint32_t cookie = 0;
    hr = point->Advise(this, &cookie);
    if (Failed(hr)) return hr;
    m_connections.push_back({piSession, cookie});
    return S_OK;
}

void CBotClient::DetachFromAllSessions() {
    while (!m_connections.empty()) {
        IWexSession* source = m_connections.front().source;
        if (DetachEvents(source) != S_OK) m_connections.erase(m_connections.begin());
    }
}

HRESULT CBotClient::DetachEvents(IWexSession* piSession) {
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (it->source != piSession) continue;
        WexPtr<IWexConnectionPoint> point;
        HRESULT hr = piSession->FindConnectionPoint(DIID_DWexSessionEvents, point.Out());
        if (Failed(hr)) return hr;
        uint32_t cookie = it->cookie;
        m_connections.erase(it);
        point->Unadvise(cookie);
        return S_OK;
    }
    return 1;
}
