#include "messaging/transcript.h"

#include <cstdio>

#include "bot/string_ops.h"
#include "messaging/config_values.h"
#include "messaging/property_file.h"
#include "messaging/result_names.h"
#include "messaging/username_slots.h"
#include "messaging/visible_text.h"
#include "platform/append_file.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/local_time.h"

namespace {

constexpr size_t kNameWidth = 13;

// Pads name with blanks to 13 characters (UTF-8 code points, so columns
// line up for any name). Longer names are kept whole.
std::string PadName(const std::string& name) {
    size_t chars = 0;
    for (unsigned char c : name) {
        if ((c & 0xC0) != 0x80) ++chars;
    }
    std::string padded = name;
    if (chars < kNameWidth) padded.append(kNameWidth - chars, ' ');
    return padded;
}

// Appends line to the file at path with one write, so that a kill or a
// full disk never leaves half a line; false when it can't be opened or
// written whole.
bool AppendToFile(const std::string& path, const std::string& line, bool* opened) {
    platform::AppendFile file;
    *opened = file.Open(path);
    return *opened && file.Append(line);
}

// "YYYY-MM-DD HH:MM:SS ": the time stamp that starts every line.
bool StartsWithTimeStamp(const std::string& line) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd ";
    if (line.size() < sizeof kShape - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
    }
    return true;
}

std::string HandleText(WEXSTR handle) {
    std::string text;
    AppendNarrow(text, handle);
    return text;
}

// A stranger's screen name comes from outside: control characters are
// written as \xNN so that the name can't break or forge a line.
std::string SafeName(const std::string& name) {
    std::string safe;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            safe += code;
        } else {
            safe += static_cast<char>(c);
        }
    }
    return safe;
}

}  // namespace

bool Transcript::SetUpLogFile(const PropertyFile& config) {
    int64_t now = platform::NowSeconds();
    CWexBstr value;
    std::string base;
    if (Failed(config.GetString("LogFile", value)) || Failed(ToNarrow(base, value)) ||
        base.empty()) {
        platform::PrintErrorLine(kNoLogFileText);
        return false;
    }
    logPath = base + platform::FormatLocalTime(now, "_%Y%m%d_%H%M%S") + ".log";
    return true;
}

// Counts what the lines of an earlier run counted: RECV lines and the SEND
// lines not followed by their "not delivered" ERR line, for slots 0 to 3.
void Transcript::CountEarlierLines() {
    std::string text;
    std::string problem;
    if (!ReadFileText(logPath, &text, &problem)) return;
    int pendingSlot = -1;  // a SEND line whose verdict is the next line
    auto commitPending = [&] {
        if (pendingSlot >= 0) stats.AddSent(pendingSlot);
        pendingSlot = -1;
    };
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        ParsedLine line;
        bool parsed = ParseLine(text.substr(begin, end - begin), &line);
        bool undelivered = parsed && line.tag == "ERR " && line.slot == pendingSlot &&
                           line.text.rfind("not delivered: ", 0) == 0;
        if (undelivered) pendingSlot = -1;
        commitPending();
        if (parsed && line.tag == "RECV") stats.AddReceived(line.slot);
        if (parsed && line.tag == "SEND") pendingSlot = line.slot;
        begin = end + 1;
    }
    commitPending();
}

bool Transcript::ParseLine(const std::string& line, ParsedLine* parsed) {
    constexpr size_t kStampSize = 20;  // "YYYY-MM-DD HH:MM:SS "
    if (!StartsWithTimeStamp(line)) return false;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        std::string name = PadName(SlotName(slot)) + " ";
        if (line.compare(kStampSize, name.size(), name) != 0) continue;
        size_t tagAt = kStampSize + name.size();
        if (line.size() < tagAt + 5 || line[tagAt + 4] != ' ') return false;
        parsed->slot = slot;
        parsed->tag = line.substr(tagAt, 4);
        parsed->text = line.substr(tagAt + 5);
        return true;
    }
    return false;
}

HRESULT Transcript::WriteLog(int slot, const std::string& tag, const std::string& text) {
    return WriteLine(slot, SlotName(slot), tag, text);
}

HRESULT Transcript::LogRecv(int slot, WEXSTR text, WEXSTR senderName) {
    std::string name = SlotName(slot);
    if (slot < 0 || slot >= SLOT_COUNT) name = SafeName(HandleText(senderName));
    return WriteLine(slot, name, "RECV", VisibleLine(HandleText(text)));
}

HRESULT Transcript::LogRecvTruncated(int slot, const std::string& head, size_t bytes,
                                     WEXSTR senderName) {
    std::string name = SlotName(slot);
    if (slot < 0 || slot >= SLOT_COUNT) name = SafeName(HandleText(senderName));
    return WriteLine(slot, name, "RECV",
                     VisibleLine(head) + " [... truncated, " + std::to_string(bytes) + " bytes]");
}

HRESULT Transcript::LogFolded(int slot, WEXSTR senderName, int32_t count, int32_t limit,
                              int32_t seconds) {
    std::string name = SlotName(slot);
    if (slot < 0 || slot >= SLOT_COUNT) name = SafeName(HandleText(senderName));
    std::string text = std::to_string(count) + " messages not answered one by one (more than " +
                       std::to_string(limit) + " in " + std::to_string(seconds) +
                       " s); the last one follows";
    return WriteLine(slot, name, "DROP", text);
}

HRESULT Transcript::LogSend(int slot, WEXSTR text, HRESULT result) {
    // One unit under the lock: no other line comes between a failed send's
    // SEND line and its ERR line. Only delivered messages count as sent.
    bool counted = false;
    HRESULT hr;
    {
        platform::MutexLock lock(logLock);
        hr = WriteLineLocked(slot, SlotName(slot), "SEND", HandleText(text), Succeeded(result),
                             &counted);
        if (Failed(result)) {
            bool none = false;
            WriteLineLocked(slot, SlotName(slot), "ERR ",
                            std::string("not delivered: ") + ResultName(result), false, &none);
        }
    }
    if (counted) ReportCount(slot, true);
    return hr;
}

HRESULT Transcript::WriteLine(int slot, const std::string& name, const std::string& tag,
                              const std::string& text) {
    bool counted = false;
    HRESULT hr;
    {
        platform::MutexLock lock(logLock);
        hr = WriteLineLocked(slot, name, tag, text, true, &counted);
    }
    if (counted) ReportCount(slot, tag == "SEND");
    return hr;
}

HRESULT Transcript::WriteLineLocked(int slot, const std::string& name, const std::string& tag,
                                    const std::string& text, bool count, bool* counted) {
    int64_t now = platform::NowSeconds();
    std::string line = platform::FormatLocalTime(now, "%Y-%m-%d %H:%M:%S") + " " + PadName(name) +
                       " " + tag + " " + text + "\n";
    bool opened = false;
    bool written = !logPath.empty() && AppendToFile(logPath, line, &opened);
    // Before the log file is named (start-up errors) a line is dropped
    // quietly; afterwards a line that doesn't reach the file is worth a
    // warning.
    if (!written && !logPath.empty()) {
        platform::PrintErrorLine("transcript: cannot " + std::string(opened ? "write" : "open") +
                                 " \"" + logPath + "\"; line lost.");
    }
    *counted = false;
    if (!opened) return E_FAIL;
    platform::Print(line);
    if (count && slot >= 0 && slot < SLOT_COUNT && (tag == "SEND" || tag == "RECV")) {
        if (tag == "SEND") stats.AddSent(slot);
        if (tag == "RECV") stats.AddReceived(slot);
        *counted = true;
    }
    return written ? S_OK : E_FAIL;
}
