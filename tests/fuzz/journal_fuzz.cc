// The game's journal. Arbitrary bytes are read as a journal file and every
// entry read is applied to a game record, as a resumed bot does; each entry
// written again reads back the same. Then the input, as the text of a chat
// line, is journalled and read back: it must come back byte for byte.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bot/string_ops.h"
#include "game/game_record.h"
#include "game/journal.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The most rounds a configuration may set: a resumed journal's start entry
// must match its configuration, so a larger count never reaches ApplyEntry.
constexpr int64_t kMaxRounds = 100000;

// One scratch file for the whole run, removed at exit.
const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/journal_fuzz_XXXXXX";
        int fd = mkstemp(pattern.data());
        FUZZ_CHECK(fd >= 0);
        close(fd);
        return pattern;
    }();
    static const bool removeAtExit = [] {
        std::atexit([] { unlink(ScratchPath().c_str()); });
        return true;
    }();
    (void)removeAtExit;
    return path;
}

void WriteScratch(const std::string& bytes) {
    std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

bool SameFields(const JournalEntry& a, const JournalEntry& b) {
    const auto& x = a.Fields();
    const auto& y = b.Fields();
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || x[i].value != y[i].value || x[i].isText != y[i].isText) {
            return false;
        }
    }
    return true;
}

void ReadArbitraryJournal(const std::string& bytes) {
    WriteScratch(bytes);
    JournalContents contents;
    std::string error;
    if (!ReadJournal(ScratchPath(), &contents, &error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(contents.wholeLength <= bytes.size());
    FUZZ_CHECK(contents.tornTail == (contents.wholeLength < bytes.size()));
    for (const JournalEntry& entry : contents.entries) {
        std::string line = entry.ToLine();
        line.pop_back();  // the line feed
        JournalEntry again;
        FUZZ_CHECK(JournalEntry::FromLine(line, &again));
        FUZZ_CHECK(SameFields(entry, again));
        if (entry.Kind() == "start" && entry.GetInt("NRounds") > kMaxRounds) return;
    }
    GameRecord game;
    DataRows rows;
    for (const JournalEntry& entry : contents.entries) ApplyEntry(entry, &game, &rows);
}

// text as the text of a chat line, through the journal and back.
void RoundTripChat(const std::string& text) {
    JournalEntry written = JournalEntry("chat", 1700000000).Int("round", 3).Int("subject", 1);
    written.Text("text", text);
    WriteScratch(written.ToLine());
    JournalContents contents;
    std::string error;
    FUZZ_CHECK(ReadJournal(ScratchPath(), &contents, &error));
    FUZZ_CHECK(!contents.tornTail);
    FUZZ_CHECK(contents.entries.size() == 1);
    FUZZ_CHECK(contents.entries[0].GetText("text") == text);
    FUZZ_CHECK(SameFields(contents.entries[0], written));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    ReadArbitraryJournal(bytes);
    // The bot journals what a subject typed as the UTF-8 of its string
    // handle; the raw bytes must survive as well.
    RoundTripChat(bytes);
    std::string line;
    FUZZ_CHECK(!Failed(AppendNarrow(line, MakeBstr(bytes))));
    RoundTripChat(line);
    return 0;
}
