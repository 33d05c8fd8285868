// The game's journal, BASE_YYYYMMDD_HHMMSS.journal: one entry (see
// journal_entry.h) per change of game state, appended with one write and
// made durable before the bot answers the message that caused it.
#pragma once

#include <string>
#include <vector>

#include "game/journal_entry.h"
#include "platform/append_file.h"

struct JournalContents {
    std::vector<JournalEntry> entries;
    // Bytes of the file that hold whole entries; a torn last entry lies
    // beyond.
    size_t wholeLength = 0;
    bool tornTail = false;
};

// Reads the journal at path. A last line that is not an intact entry is a
// write that was torn: it is left out and tornTail set. False with *error
// when the file can't be read or a line before the last is damaged.
bool ReadJournal(const std::string& path, JournalContents* contents, std::string* error);

// Appends entries. Not locked itself: its one user, GameRecorder, calls it
// under the recorder lock.
class JournalWriter {
public:
    // A new journal; fails when the file exists already.
    bool Create(const std::string& path, std::string* error);
    // Continues a journal read by ReadJournal, cutting off its torn tail.
    bool Continue(const std::string& path, const JournalContents& read, std::string* error);
    // Writes the entry with one write and waits until it is on disk.
    bool Append(const JournalEntry& entry);
    const std::string& Path() const { return m_path; }

private:
    platform::AppendFile m_file;
    std::string m_path;
};
