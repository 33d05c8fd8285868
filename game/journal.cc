#include "game/journal.h"

#include <cerrno>
#include <cstring>

bool ReadJournal(const std::string& path, JournalContents* contents, std::string* error) {
    *contents = JournalContents();
    std::string text;
    if (!platform::ReadWholeFile(path, &text)) {
        *error = "cannot read " + path;
        return false;
    }
    size_t begin = 0;
    int lineNumber = 1;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        bool last = end == std::string::npos || end + 1 == text.size();
        JournalEntry entry;
        bool whole = end != std::string::npos &&
                     JournalEntry::FromLine(text.substr(begin, end - begin), &entry);
        if (!whole) {
            if (!last) {
                *error = path + " is damaged at line " + std::to_string(lineNumber);
                return false;
            }
            contents->tornTail = true;
            break;
        }
        contents->entries.push_back(entry);
        begin = end + 1;
        contents->wholeLength = begin;
        ++lineNumber;
    }
    return true;
}

bool JournalWriter::Create(const std::string& path, std::string* error) {
    m_path = path;
    if (m_file.Open(path, true)) return true;
    *error = errno == EEXIST ? "the journal " + path + " exists already"
                             : "cannot create the journal " + path + ": " + std::strerror(errno);
    return false;
}

bool JournalWriter::Continue(const std::string& path, const JournalContents& read,
                             std::string* error) {
    m_path = path;
    if (!m_file.Open(path)) {
        *error = "cannot open the journal " + path + ": " + std::strerror(errno);
        return false;
    }
    if (read.tornTail && !m_file.Truncate(static_cast<int64_t>(read.wholeLength))) {
        *error = "cannot cut the torn last entry of " + path;
        return false;
    }
    return true;
}

bool JournalWriter::Append(const JournalEntry& entry) {
    return m_file.Append(entry.ToLine()) && m_file.Sync();
}
