#include "messaging/csv_writer.h"

#include <charconv>
#include <cmath>

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string record;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) record += ',';
        record += CsvField(fields[i]);
    }
    return record + "\r\n";
}

std::string ShortestDouble(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

namespace {

// Calls onRecordEnd(offset just past the line break) for each whole record.
template <typename F>
void ScanRecords(const std::string& text, F onRecordEnd) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            quoted = !quoted;  // a doubled quote toggles twice
        } else if (c == '\n' && !quoted) {
            onRecordEnd(i + 1);
        }
    }
}

}  // namespace

size_t WholeRecordsLength(const std::string& text) {
    size_t length = 0;
    ScanRecords(text, [&](size_t end) { length = end; });
    return length;
}

size_t CountCsvRecords(const std::string& text) {
    size_t count = 0;
    ScanRecords(text, [&](size_t) { ++count; });
    return count;
}
