#include "messaging/transcript.h"

#include <cstdio>

#include "bot/string_ops.h"
#include "messaging/property_file.h"
#include "messaging/result_names.h"
#include "messaging/username_slots.h"
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
        platform::PrintErrorLine("LogFile: log file name is missing or empty. Check config file.");
        return false;
    }
    logPath = base + platform::FormatLocalTime(now, "_%Y%m%d_%H%M%S") + ".log";
    return true;
}

void Transcript::ContinueLogFile(const std::string& path) {
    logPath = path;
}

HRESULT Transcript::WriteLog(int slot, const std::string& tag, const std::string& text) {
    return WriteLine(slot, SlotName(slot), tag, text);
}

HRESULT Transcript::LogRecv(int slot, WEXSTR text, WEXSTR senderName) {
    std::string name = SlotName(slot);
    if (slot < 0 || slot >= SLOT_COUNT) name = SafeName(HandleText(senderName));
    return WriteLine(slot, name, "RECV", HandleText(text));
}

HRESULT Transcript::LogSend(int slot, WEXSTR text, HRESULT result) {
    // One unit under the lock: no other line comes between a failed send's
    // SEND line and its ERR line. Only delivered messages count as sent.
    platform::MutexLock lock(logLock);
    HRESULT hr = WriteLineLocked(slot, SlotName(slot), "SEND", HandleText(text), Succeeded(result));
    if (Failed(result)) {
        WriteLineLocked(slot, SlotName(slot), "ERR ",
                        std::string("not delivered: ") + ResultName(result), false);
    }
    return hr;
}

HRESULT Transcript::WriteLine(int slot, const std::string& name, const std::string& tag,
                              const std::string& text) {
    platform::MutexLock lock(logLock);
    return WriteLineLocked(slot, name, tag, text, true);
}

HRESULT Transcript::WriteLineLocked(int slot, const std::string& name, const std::string& tag,
                                    const std::string& text, bool count) {
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
    if (!opened) return E_FAIL;
    platform::Print(line);
    if (count && tag == "SEND") stats.AddSent(now, slot, text);
    if (count && tag == "RECV") stats.AddReceived(now, slot, text);
    return written ? S_OK : E_FAIL;
}
