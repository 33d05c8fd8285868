// The bot's preference store for the session, kept in the per-user
// settings store under "Software\TarnMfcApp\".
#pragma once

#include <atomic>
#include <string>

#include "wexcore/interfaces.h"

class CClientPrefs final : public WexRefCounted<IWexPrefsHook> {
public:
    // Makes a new object holding a reference to the session; *out holds one
    // reference. E_FAIL when it can't be made.
    static HRESULT Create(IWexSession* piSession, CClientPrefs** out);

    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT GetValue(WEXSTR name, WexVariant* value) override;
    HRESULT GetDefaultValue(WEXSTR name, WexVariant* value) override;
    HRESULT SetValue(WEXSTR name, const WexVariant& value) override;
    HRESULT Reset(WEXSTR name) override;
    HRESULT GetChildPrefs(WEXSTR name, WexVariant* children) override;

    // Makes sure the store's root key exists; false when it can't be made.
    bool InitPrefsMgr();
    void SetConnectionState(int32_t state) { m_connectionState = state; }
    // Key path and value name of a preference in the current state.
    void MakeRegistryPath(WEXSTR name, std::string* key, std::string* valueName);

private:
    explicit CClientPrefs(IWexSession* piSession) : m_spiSession(piSession) {}
    ~CClientPrefs() override = default;

    std::atomic<int32_t> m_connectionState{0};
    WexPtr<IWexSession> m_spiSession;
};
