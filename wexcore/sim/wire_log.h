// The simulated service's record of everything that crossed the wire: one
// JSON object a line, keys in a fixed order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "wexcore/result_codes.h"

namespace wexcore::sim {

// Builds one line; keys appear in the order they are added.
class WireLine {
public:
    WireLine(double seconds, const char* op);
    WireLine& Text(const char* key, const std::string& value);
    WireLine& Int(const char* key, int64_t value);
    WireLine& Code(const char* key, HRESULT code);
    std::string Finish() const { return m_json + "}\n"; }

private:
    std::string m_json;
};

class WireLog {
public:
    WireLog() = default;
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;
    ~WireLog();
    // Creates (truncates) the file; false when it can't be opened.
    bool Open(const std::string& path);
    void Write(const WireLine& line);

private:
    std::FILE* m_file = nullptr;
};

}  // namespace wexcore::sim
