// The game's data for analysis, beside the transcript: BASE_rounds.csv,
// BASE_chat.csv and BASE_payouts.csv, each with one header line and then
// one record per row, each record written whole with one write.
#pragma once

#include <string>
#include <vector>

#include "platform/append_file.h"

class DataFiles {
public:
    enum Kind { kRounds = 0, kChat = 1, kPayouts = 2 };
    static constexpr int kKinds = 3;

    // Opens the three files of base (BASE_YYYYMMDD_HHMMSS). A missing or
    // empty file gets its header line; an existing one is appended to, a
    // record cut short at its end (a power cut) being cut off first. False
    // with *error naming the file that can't be opened.
    bool Open(const std::string& base, std::string* error);

    // Appends one record (CsvRecord); false when it did not reach the file.
    bool Append(Kind kind, const std::string& record);
    // Rows (records after the header) the file held when opened.
    size_t RowsAtOpen(Kind kind) const { return m_rowsAtOpen[kind]; }
    const std::string& Path(Kind kind) const { return m_paths[kind]; }

    static const char* Header(Kind kind);
    static const char* Suffix(Kind kind);

private:
    bool OpenOne(Kind kind, std::string* error);

    platform::AppendFile m_files[kKinds];
    std::string m_paths[kKinds];
    size_t m_rowsAtOpen[kKinds] = {0, 0, 0};
};
