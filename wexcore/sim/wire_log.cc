#include "wexcore/sim/wire_log.h"

#include "platform/json_text.h"

namespace wexcore::sim {

WireLine::WireLine(double seconds, const char* op) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{\"t\":%.3f", seconds);
    m_json = buffer;
    Text("op", op);
}

WireLine& WireLine::Text(const char* key, const std::string& value) {
    m_json += std::string(",\"") + key + "\":\"" + platform::JsonEscape(value) + "\"";
    return *this;
}

WireLine& WireLine::Int(const char* key, int64_t value) {
    m_json += std::string(",\"") + key + "\":" + std::to_string(value);
    return *this;
}

WireLine& WireLine::Code(const char* key, HRESULT code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<uint32_t>(code));
    return Text(key, buffer);
}

WireLog::~WireLog() {
    if (m_file) std::fclose(m_file);
}

bool WireLog::Open(const std::string& path) {
    m_file = std::fopen(path.c_str(), "wb");
    return m_file != nullptr;
}

void WireLog::Write(const WireLine& line) {
    if (m_file == nullptr) return;
    std::string text = line.Finish();
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
}

}  // namespace wexcore::sim
