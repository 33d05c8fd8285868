// The game's record besides the transcript: the journal and the data
// files. Each change of game state is written to the journal (durably),
// applied to the record's own copy of the game, and the data rows it makes
// are appended to the data files.
#pragma once

#include <string>

#include "game/game_record.h"
#include "game/journal.h"
#include "messaging/data_files.h"
#include "platform/sync.h"

class GameRecorder {
public:
    // A new game: creates BASE.journal with the start entry, and the data
    // files of base. False with *error when a file can't be made.
    bool StartNew(const std::string& base, const JournalEntry& start, std::string* error);

    // An interrupted game: reads the journal at journalPath, checks that it
    // belongs to the configuration of start and that its game has not
    // ended, rebuilds the game, appends to the data files the rows they
    // lack, and writes a resume entry. False with *error saying why not.
    bool Resume(const std::string& journalPath, const JournalEntry& start, std::string* error);

    // Writes entry to the journal, waits until it is on disk, applies it
    // and appends the rows it makes. Does nothing before StartNew or Resume.
    // Either thread may call it.
    void Record(const JournalEntry& entry);

    bool Active() const { return m_active; }
    // The game as the record has it; read it on the event thread.
    const GameRecord& Game() const { return m_game; }
    const std::string& JournalPath() const { return m_journal.Path(); }
    // BASE_YYYYMMDD_HHMMSS of the files.
    const std::string& Base() const { return m_base; }

    // The base of a journal's path (without ".journal"); "" when the path
    // does not end so.
    static std::string BaseOfJournal(const std::string& journalPath);

private:
    // Applies entry and writes its rows; m_lock held.
    void ApplyAndWrite(const JournalEntry& entry);
    bool CatchUpDataFiles(const DataRows& rows, std::string* error);

    platform::Mutex m_lock{"recorder lock"};
    JournalWriter m_journal;
    DataFiles m_data;
    GameRecord m_game;
    std::string m_base;
    bool m_active = false;
};
