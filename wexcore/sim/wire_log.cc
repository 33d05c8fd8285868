#include "wexcore/sim/wire_log.h"

namespace wexcore::sim {

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out;
}

WireLine::WireLine(double seconds, const char* op) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{\"t\":%.3f", seconds);
    m_json = buffer;
    Text("op", op);
}

WireLine& WireLine::Text(const char* key, const std::string& value) {
    m_json += std::string(",\"") + key + "\":\"" + JsonEscape(value) + "\"";
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
