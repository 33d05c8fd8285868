// One entry of the game's journal, and its line in the journal file:
//
//   CRC32 JSON LF
//
// CRC32 is the CRC-32 (as zlib computes it) of the JSON text's bytes, in
// eight lower-case hexadecimal digits; JSON is one flat object whose first
// key is "kind" and whose values are strings, numbers or true/false. A line
// whose checksum does not match, or that lacks its line feed, is not an
// entry (a write that a power cut tore).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JournalEntry {
public:
    JournalEntry() = default;
    // An entry of kind at time t (seconds since 1970), its first two keys.
    JournalEntry(const std::string& kind, int64_t t);

    JournalEntry& Text(const std::string& key, const std::string& value);
    JournalEntry& Int(const std::string& key, int64_t value);
    // Written in the shortest form that reads back as the same double.
    JournalEntry& Real(const std::string& key, double value);
    JournalEntry& Bool(const std::string& key, bool value);

    const std::string& Kind() const { return m_kind; }
    bool Has(const std::string& key) const;
    // A missing key or a value of another type reads as "", 0, 0.0, false.
    std::string GetText(const std::string& key) const;
    int64_t GetInt(const std::string& key) const;
    double GetReal(const std::string& key) const;
    bool GetBool(const std::string& key) const;
    // Keys and values in order, values as their JSON text without quotes
    // (for comparing two entries).
    struct Field {
        std::string key;
        std::string value;
        bool isText;
    };
    const std::vector<Field>& Fields() const { return m_fields; }

    std::string ToJson() const;
    // The journal line, line feed included.
    std::string ToLine() const;
    // Reads one line (without its line feed); false when it is not an
    // intact entry.
    static bool FromLine(const std::string& line, JournalEntry* entry);

private:
    JournalEntry& Add(const std::string& key, const std::string& value, bool isText);
    const Field* Find(const std::string& key) const;

    std::string m_kind;
    std::vector<Field> m_fields;  // "kind" included
};

// CRC-32 of data (the polynomial of zlib, gzip and PNG).
uint32_t Crc32(const std::string& data);
