// The experiment's transcript: one time-stamped line per message, appended
// to the log file and echoed on standard output, with the message counts.
#pragma once

#include <functional>
#include <string>

#include "messaging/msg_stats.h"
#include "platform/sync.h"
#include "wexcore/result_codes.h"
#include "wexcore/wex_string.h"

struct PropertyFile;

class Transcript {
public:
    // Names the log file from LogFile and the current local time:
    // LogFile + "_%Y%m%d_%H%M%S.log". False, with a line on standard error,
    // when LogFile is missing or empty. Does not create the file.
    bool SetUpLogFile(const PropertyFile& config);
    // Appends to the log file of an earlier run instead (a resumed game).
    // The counts of the earlier run are then set with Stats().SetCounts.
    void ContinueLogFile(const std::string& path) { logPath = path; }
    // Counts the messages that the lines of the log file record: for a
    // resumed game whose journal predates the journal's message counts.
    // Call after the username slots are set.
    void CountEarlierLines();

    // Called with the slot, and whether it was a send, each time a message
    // is counted, after logLock is released (so the hook may take other
    // locks). Set it before any thread writes.
    void SetCountHook(std::function<void(int slot, bool sent)> hook) {
        countHook = std::move(hook);
    }

    // Appends "time name tag text" for the party in slot (0 to 3), echoes it
    // and counts SEND and RECV lines. E_FAIL when the file can't be opened:
    // the line is then neither echoed nor counted.
    HRESULT WriteLog(int slot, const std::string& tag, const std::string& text);

    // RECV line. A sender in no slot (slot -1) is named by senderName and
    // not counted. The text, which a participant wrote, is written on one
    // line with its controls escaped (VisibleLine), so it can't pose as
    // other lines of the transcript.
    HRESULT LogRecv(int slot, WEXSTR text, WEXSTR senderName = nullptr);
    // RECV line of a message of `bytes` bytes of which only head, its start,
    // was kept: head as LogRecv writes it, then " [... truncated, N bytes]".
    HRESULT LogRecvTruncated(int slot, const std::string& head, size_t bytes,
                             WEXSTR senderName = nullptr);
    // SEND line for the recipient in slot. A send whose verdict is a failure
    // is not counted and gets the line "ERR  not delivered: CODE_NAME" right
    // after it.
    HRESULT LogSend(int slot, WEXSTR text, HRESULT result = S_OK);
    // A DROP line: count messages of the sender came faster than limit in
    // seconds and were not answered one by one; the last one follows.
    HRESULT LogFolded(int slot, WEXSTR senderName, int32_t count, int32_t limit, int32_t seconds);

    const std::string& LogPath() const { return logPath; }
    MsgStats& Stats() { return stats; }

private:
    struct ParsedLine {
        int slot;
        std::string tag;
        std::string text;
    };
    // Reads "time name tag text" for a party in slots 0 to 3.
    static bool ParseLine(const std::string& line, ParsedLine* parsed);
    HRESULT WriteLine(int slot, const std::string& name, const std::string& tag,
                      const std::string& text);
    // WriteLine with logLock held; count says whether SEND and RECV lines
    // go into the statistics, *counted whether this one went.
    HRESULT WriteLineLocked(int slot, const std::string& name, const std::string& tag,
                            const std::string& text, bool count, bool* counted);
    void ReportCount(int slot, bool sent) const {
        if (countHook) countHook(slot, sent);
    }

    std::string logPath;                 // set once at start-up, read-only afterwards
    platform::Mutex logLock{"logLock"};  // makes each line, its echo and its count one unit
    MsgStats stats;
    std::function<void(int, bool)> countHook;  // set at start-up, read-only afterwards
};
