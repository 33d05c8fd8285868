#include "bot/flood_guard.h"

#include "bot/string_ops.h"
#include "platform/console.h"

namespace {

constexpr int64_t kStrangerReplyMs = 60000;
// Strangers remembered at most; older entries go first when it is reached.
constexpr size_t kMaxStrangers = 1000;

// Reads key as a whole number from low to high; an absent key keeps *value.
bool ReadWhole(const PropertyFile& config, const char* key, int32_t low, int32_t high,
               int32_t* value) {
    std::string text;
    CWexBstr raw;
    if (config.GetString(key, raw) != S_OK) return true;
    ToNarrow(text, raw);
    size_t used = 0;
    long long number = 0;
    try {
        number = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || text.find_first_not_of(" \t\r", used) != std::string::npos || number < low ||
        number > high) {
        platform::PrintErrorLine("wexbot: " + std::string(key) + " must be a whole number from " +
                                 std::to_string(low) + " to " + std::to_string(high) +
                                 ", found \"" + text + "\"");
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

HRESULT SetInt(IWexSession* session, int32_t property, int32_t value) {
    WexVariant variant;
    SetVariantInt(&variant, value);
    return session->SetSessionProperty(property, variant);
}

}  // namespace

bool FloodGuard::Read(const PropertyFile& config) {
    return ReadWhole(config, "FloodLimit", 0, 100000, &m_limit) &&
           ReadWhole(config, "FloodSeconds", 1, 3600, &m_seconds);
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
