#include "bot/flood_guard.h"

#include "bot/string_ops.h"
#include "messaging/config_values.h"
#include "platform/console.h"

namespace {

constexpr int64_t kStrangerReplyMs = 60000;
// Strangers remembered at most; older entries go first when it is reached.
constexpr size_t kMaxStrangers = 1000;

// Reads the key as a whole number in its range; an absent key reads as its
// default.
bool ReadWhole(const PropertyFile& config, const char* name, int32_t* value) {
    const ConfigKey& key = ConfigKeyNamed(name);
    std::string fault = ReadSignedWhole(key, ValueOrDefault(config, key), value);
    if (fault.empty()) return true;
    platform::PrintErrorLine("wexbot: " + fault);
    return false;
}

HRESULT SetInt(IWexSession* session, int32_t property, int32_t value) {
    WexVariant variant;
    SetVariantInt(&variant, value);
    return session->SetSessionProperty(property, variant);
}

}  // namespace

bool FloodGuard::Read(const PropertyFile& config) {
    if (!ReadWhole(config, "FloodLimit", &m_limit) ||
        !ReadWhole(config, "FloodSeconds", &m_seconds)) {
        return false;
    }
    const ConfigKey& settle = ConfigKeyNamed("PresenceSettle");
    std::string fault = ReadSeconds(settle, ValueOrDefault(config, settle), &m_presenceSettle);
    if (fault.empty()) return true;
    platform::PrintErrorLine("wexbot: " + fault);
    return false;
}

HRESULT FloodGuard::Apply(IWexSession* session, const std::string& moderator,
                          const std::string& desk) const {
    CWexVariant name;
    MakeStringVariant(name.get(), moderator);
    HRESULT hr = session->SetSessionProperty(WEX_PROP_PRIORITY_PEER, name.value());
    if (Succeeded(hr) && !desk.empty()) {
        CWexVariant second;
        MakeStringVariant(second.get(), desk);
        hr = session->SetSessionProperty(WEX_PROP_PRIORITY_PEER2, second.value());
    }
    if (Succeeded(hr)) hr = SetInt(session, WEX_PROP_FLOOD_LIMIT, m_limit);
    if (Succeeded(hr)) hr = SetInt(session, WEX_PROP_FLOOD_SECONDS, m_seconds);
    return hr;
}

bool FloodGuard::MayAnswerStranger(const std::string& name, int64_t nowMs) {
    auto found = m_lastStrangerReplyMs.find(name);
    if (found != m_lastStrangerReplyMs.end() && nowMs - found->second < kStrangerReplyMs) {
        return false;
    }
    if (m_lastStrangerReplyMs.size() >= kMaxStrangers) {
        for (auto it = m_lastStrangerReplyMs.begin(); it != m_lastStrangerReplyMs.end();) {
            it = nowMs - it->second >= kStrangerReplyMs ? m_lastStrangerReplyMs.erase(it)
                                                        : std::next(it);
        }
        // All of them wrote within the minute: one name makes room.
        if (m_lastStrangerReplyMs.size() >= kMaxStrangers) {
            m_lastStrangerReplyMs.erase(m_lastStrangerReplyMs.begin());
        }
    }
    m_lastStrangerReplyMs[name] = nowMs;
    return true;
}
