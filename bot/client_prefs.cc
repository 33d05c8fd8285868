#include "bot/client_prefs.h"

#include <new>

#include "bot/string_ops.h"
#include "platform/settings_store.h"
#include "wexcore/events.h"

namespace {

constexpr char kRootKey[] = "Software\\TarnMfcApp";
// The settings store reads values into a buffer of this many bytes.
constexpr size_t kValueBufferSize = 4096;

}  // namespace

HRESULT CClientPrefs::Create(IWexSession* piSession, CClientPrefs** out) {
    *out = new (std::nothrow) CClientPrefs(piSession);
    if (*out == nullptr) return E_FAIL;
    (*out)->AddRef();
    return S_OK;
}

HRESULT CClientPrefs::QueryInterface(WexIid iid, void** ppv) {
    return QuerySingle<IWexPrefsHook>(this, IID_IWexPrefsHook, iid, ppv);
}

bool CClientPrefs::InitPrefsMgr() {
    return platform::SettingsKeyExists(kRootKey) || platform::SettingsCreateKey(kRootKey);
}

void CClientPrefs::MakeRegistryPath(WEXSTR name, std::string* key, std::string* valueName) {
    std::string converted;
    ToNarrow(converted, name);
    for (char& c : converted) {
        if (c == '.') c = '\\';
    }
    std::string path = std::string(kRootKey) + "\\";
    int32_t state = m_connectionState;
    if (state == WEX_STATE_ONLINE || state == WEX_STATE_ONLINE_IDLE) {
        CWexBstr signedOn;
        m_spiSession->GetSignedOnName(signedOn.Out());
        std::string screenName;
        ToNarrow(screenName, signedOn);
        path += "Users\\" + screenName + "\\";
    }
    path += converted;
    size_t last = path.rfind('\\');
    *key = path.substr(0, last);
    *valueName = path.substr(last + 1);
}

HRESULT CClientPrefs::GetValue(WEXSTR name, WexVariant* value) {
    if (value == nullptr) return E_POINTER;
    std::string key, valueName, text;
    MakeRegistryPath(name, &key, &valueName);
    // One byte of the buffer is kept for the terminator.
    if (!platform::SettingsReadValue(key, valueName, kValueBufferSize - 1, &text)) {
        return WEX_E_NO_DATA;
    }
    MakeStringVariant(value, text);
    return S_OK;
}

HRESULT CClientPrefs::GetDefaultValue(WEXSTR, WexVariant*) {
    return WEX_E_NO_DATA;
}

HRESULT CClientPrefs::SetValue(WEXSTR name, const WexVariant& value) {
    std::string key, valueName, text;
    MakeRegistryPath(name, &key, &valueName);
    WexVariant converted;
    if (Succeeded(ChangeVariantType(&converted, &value, VT_BSTR))) {
        ToNarrow(text, converted.bstrVal);
    }
    ClearVariant(&converted);
    if (!platform::SettingsWriteValue(key, valueName, text)) return E_FAIL;
    return S_OK;
}

HRESULT CClientPrefs::Reset(WEXSTR) {
    return S_OK;
}

HRESULT CClientPrefs::GetChildPrefs(WEXSTR, WexVariant*) {
    return WEX_E_NO_DATA;
}
