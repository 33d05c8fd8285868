#include "game/journal_entry.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "messaging/csv_writer.h"
#include "platform/json_text.h"
#include "wexcore/utf8.h"

uint32_t Crc32(const std::string& data) {
    static const auto table = [] {
        struct Table {
            uint32_t v[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.v[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) crc = table.v[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

namespace {

std::string JsonString(const std::string& text) {
    return "\"" + platform::JsonEscape(text) + "\"";
}

// Reads the flat JSON objects that ToJson writes.
class FlatJsonReader {
public:
    explicit FlatJsonReader(const std::string& text) : m_text(text) {}

    bool Read(std::vector<JournalEntry::Field>* fields) {
        if (!Take('{')) return false;
        if (Take('}')) return AtEnd();
        do {
            JournalEntry::Field field;
            if (!String(&field.key) || !Take(':') || !Value(&field)) return false;
            fields->push_back(field);
        } while (Take(','));
        return Take('}') && AtEnd();
    }

private:
    void SkipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) ++m_pos;
    }
    bool Take(char c) {
        SkipBlanks();
        if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
        ++m_pos;
        return true;
    }
    bool AtEnd() {
        SkipBlanks();
        return m_pos == m_text.size();
    }
    bool Hex4(uint32_t* code) {
        if (m_pos + 4 > m_text.size()) return false;
        char* end = nullptr;
        std::string digits = m_text.substr(m_pos, 4);
        *code = static_cast<uint32_t>(std::strtoul(digits.c_str(), &end, 16));
        if (*end != '\0') return false;
        m_pos += 4;
        return true;
    }
    bool Escape(std::string* out) {
        char c = m_text[m_pos++];
        const char* from = "\"\\/bfnrt";
        const char* to = "\"\\/\b\f\n\r\t";
        for (int i = 0; from[i] != '\0'; ++i) {
            if (c == from[i]) {
                *out += to[i];
                return true;
            }
        }
        uint32_t code = 0;
        if (c != 'u' || !Hex4(&code)) return false;
        if (code >= 0xD800 && code < 0xDC00) {
            uint32_t low = 0;
            if (m_text.compare(m_pos, 2, "\\u") != 0) return false;
            m_pos += 2;
            if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        wexcore::EncodeUtf8(code, *out);
        return true;
    }
    bool String(std::string* out) {
        if (!Take('"')) return false;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos++];
            if (c == '"') return true;
            if (c != '\\') {
                *out += c;
            } else if (m_pos >= m_text.size() || !Escape(out)) {
                return false;
            }
        }
        return false;
    }
    bool Value(JournalEntry::Field* field) {
        SkipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            field->isText = true;
            return String(&field->value);
        }
        size_t end = m_text.find_first_of(",} \t", m_pos);
        if (end == std::string::npos || end == m_pos) return false;
        field->isText = false;
        field->value = m_text.substr(m_pos, end - m_pos);
        m_pos = end;
        return true;
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

}  // namespace

JournalEntry::JournalEntry(const std::string& kind, int64_t t) {
    Text("kind", kind);
    Int("t", t);
}

JournalEntry& JournalEntry::Add(const std::string& key, const std::string& value, bool isText) {
    if (key == "kind") m_kind = value;
    m_fields.push_back({key, value, isText});
    return *this;
}

JournalEntry& JournalEntry::Text(const std::string& key, const std::string& value) {
    return Add(key, value, true);
}

JournalEntry& JournalEntry::Int(const std::string& key, int64_t value) {
    return Add(key, std::to_string(value), false);
}

JournalEntry& JournalEntry::Real(const std::string& key, double value) {
    // JSON has no infinities: such a value is kept as text, which GetReal
    // reads back all the same.
    return Add(key, ShortestDouble(value), !std::isfinite(value));
}

JournalEntry& JournalEntry::Bool(const std::string& key, bool value) {
    return Add(key, value ? "true" : "false", false);
}

const JournalEntry::Field* JournalEntry::Find(const std::string& key) const {
    for (const Field& field : m_fields) {
        if (field.key == key) return &field;
    }
    return nullptr;
}

bool JournalEntry::Has(const std::string& key) const {
    return Find(key) != nullptr;
}

std::string JournalEntry::GetText(const std::string& key) const {
    const Field* field = Find(key);
    return field && field->isText ? field->value : std::string();
}

int64_t JournalEntry::GetInt(const std::string& key) const {
    const Field* field = Find(key);
    return field && !field->isText ? std::strtoll(field->value.c_str(), nullptr, 10) : 0;
}

double JournalEntry::GetReal(const std::string& key) const {
    const Field* field = Find(key);
    return field ? std::strtod(field->value.c_str(), nullptr) : 0.0;
}

bool JournalEntry::GetBool(const std::string& key) const {
    const Field* field = Find(key);
    return field && !field->isText && field->value == "true";
}

std::string JournalEntry::ToJson() const {
    std::string json = "{";
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const Field& field = m_fields[i];
        if (i > 0) json += ',';
        json +=
            JsonString(field.key) + ":" + (field.isText ? JsonString(field.value) : field.value);
    }
    return json + "}";
}

std::string JournalEntry::ToLine() const {
    std::string json = ToJson();
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x ", Crc32(json));
    return crc + json + "\n";
}

bool JournalEntry::FromLine(const std::string& line, JournalEntry* entry) {
    if (line.size() < 10 || line[8] != ' ') return false;
    std::string digits = line.substr(0, 8);
    if (digits.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    std::string json = line.substr(9);
    if (std::strtoul(digits.c_str(), nullptr, 16) != Crc32(json)) return false;
    std::vector<Field> fields;
    if (!FlatJsonReader(json).Read(&fields) || fields.empty() || fields[0].key != "kind" ||
        !fields[0].isText) {
        return false;
    }
    *entry = JournalEntry();
    for (const Field& field : fields) entry->Add(field.key, field.value, field.isText);
    return true;
}
