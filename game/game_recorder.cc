#include "game/game_recorder.h"

#include <cerrno>
#include <cstring>

#include "platform/console.h"

namespace {

constexpr char kJournalSuffix[] = ".journal";

}  // namespace

std::string GameRecorder::BaseOfJournal(const std::string& journalPath) {
    size_t n = sizeof kJournalSuffix - 1;
    if (journalPath.size() <= n || journalPath.compare(journalPath.size() - n, n, kJournalSuffix)) {
        return "";
    }
    return journalPath.substr(0, journalPath.size() - n);
}

bool GameRecorder::StartNew(const std::string& base, const JournalEntry& start,
                            std::string* error) {
    m_base = base;
    if (!m_journal.Create(base + kJournalSuffix, error) || !m_data.Open(base, error)) {
        return false;
    }
    m_active = true;
    Record(start);
    return true;
}

bool GameRecorder::Resume(const std::string& journalPath, const JournalEntry& start,
                          std::string* error) {
    m_base = BaseOfJournal(journalPath);
    if (m_base.empty()) {
        *error = "the journal's name must end in .journal: " + journalPath;
        return false;
    }
    JournalContents read;
    if (!ReadJournal(journalPath, &read, error)) return false;
    if (read.entries.empty() || read.entries[0].Kind() != "start") {
        *error = journalPath + " holds no game";
        return false;
    }
    std::string difference = FirstDifference(read.entries[0], start);
    if (!difference.empty()) {
        *error = "the journal " + journalPath + " belongs to another configuration: " + difference;
        return false;
    }
    DataRows rows;
    for (const JournalEntry& entry : read.entries) ApplyEntry(entry, &m_game, &rows);
    if (m_game.reported || m_game.stopped) {
        *error =
            "the game of " + journalPath + " has ended" +
            (m_game.reported ? " (the final report was made)" : " (the moderator ended it with e)");
        return false;
    }
    if (!m_journal.Continue(journalPath, read, error) || !m_data.Open(m_base, error) ||
        !CatchUpDataFiles(rows, error)) {
        return false;
    }
    m_active = true;
    return true;
}

// A crash between a journal entry and its rows leaves the data files short:
// the rows they lack are appended now.
bool GameRecorder::CatchUpDataFiles(const DataRows& rows, std::string* error) {
    for (int kind = 0; kind < DataFiles::kKinds; ++kind) {
        auto k = static_cast<DataFiles::Kind>(kind);
        const std::vector<std::string>& all = rows.records[kind];
        for (size_t i = m_data.RowsAtOpen(k); i < all.size(); ++i) {
            if (!m_data.Append(k, all[i])) {
                *error = "cannot write " + m_data.Path(k) + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    return true;
}

void GameRecorder::Record(const JournalEntry& entry) {
    if (!m_active) return;
    platform::MutexLock lock(m_lock);
    if (!m_journal.Append(entry)) {
        platform::PrintErrorLine("journal: cannot write " + m_journal.Path() + " (" +
                                 std::strerror(errno) + "); entry lost: " + entry.ToJson());
    }
    ApplyAndWrite(entry);
}

void GameRecorder::ApplyAndWrite(const JournalEntry& entry) {
    DataRows rows;
    ApplyEntry(entry, &m_game, &rows);
    for (int kind = 0; kind < DataFiles::kKinds; ++kind) {
        auto k = static_cast<DataFiles::Kind>(kind);
        for (const std::string& record : rows.records[kind]) {
            if (!m_data.Append(k, record)) {
                platform::PrintErrorLine("data: cannot write " + m_data.Path(k) + " (" +
                                         std::strerror(errno) + "); row lost.");
            }
        }
    }
}
