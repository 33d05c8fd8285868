#include "messaging/data_files.h"

#include <cerrno>
#include <cstring>

#include "messaging/csv_writer.h"

const char* DataFiles::Header(Kind kind) {
    switch (kind) {
        case kRounds:
            return "round,subject,name,expectation,investment,partner_investment,divisor,"
                   "earnings,bonus,total_credits,expectation_time,investment_time,"
                   "expectation_source,investment_source\r\n";
        case kChat:
            return "time,round,from,text\r\n";
        case kPayouts:
            return "subject,name,total_credits,payout,rounds\r\n";
    }
    return "";
}

const char* DataFiles::Suffix(Kind kind) {
    switch (kind) {
        case kRounds:
            return "_rounds.csv";
        case kChat:
            return "_chat.csv";
        case kPayouts:
            return "_payouts.csv";
    }
    return "";
}

bool DataFiles::Open(const std::string& base, std::string* error) {
    for (int kind = 0; kind < kKinds; ++kind) {
        m_paths[kind] = base + Suffix(static_cast<Kind>(kind));
        if (!OpenOne(static_cast<Kind>(kind), error)) return false;
    }
    return true;
}

bool DataFiles::OpenOne(Kind kind, std::string* error) {
    const std::string& path = m_paths[kind];
    std::string existing;
    platform::ReadWholeFile(path, &existing);
    platform::AppendFile& file = m_files[kind];
    if (!file.Open(path)) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t whole = WholeRecordsLength(existing);
    if (whole < existing.size() && !file.Truncate(static_cast<int64_t>(whole))) {
        *error = "cannot cut the torn last record of " + path;
        return false;
    }
    size_t records = CountCsvRecords(existing.substr(0, whole));
    if (records == 0 && !file.Append(Header(kind))) {
        *error = "cannot write " + path;
        return false;
    }
    m_rowsAtOpen[kind] = records == 0 ? 0 : records - 1;
    return true;
}

bool DataFiles::Append(Kind kind, const std::string& record) {
    return m_files[kind].Append(record);
}
