#include "sum_mode.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

#include "check_line.h"
#include "file_names.h"
#include "file_reader.h"
#include "line_reader.h"
#include "parallel_hash.h"

namespace wexhash {
namespace {

std::vector<std::string> OrStandardInput(const std::vector<std::string>& files) {
    return files.empty() ? std::vector<std::string>{"-"} : files;
}

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// "PROGRAM: NAME: TEXT" on the error stream.
void Complain(const TConsole& console, const std::string& name, const std::string& text) {
    Write(console.err, console.program + ": " + QuoteName(name) + ": " + text + "\n");
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "N thing is/are ..." and the like, only when there is something to count.
void Warn(const TConsole& console, size_t count, const char* one, const char* many) {
    if (count == 0) return;
    Write(console.err, console.program + ": WARNING: " + std::to_string(count) + " " +
                           (count == 1 ? one : many) + "\n");
}

// Checks the entries of one check file as they are read: each is hashed on a
// worker and its result printed, in order, as soon as it is in. Only a few
// entries are held at once, however long the list.
class TListCheck {
public:
    explicit TListCheck(const TConsole& console)
        : console_(console), hashes_(Cores()), window_(WindowFor(Cores())) {}

    void Add(TCheckEntry entry) {
        if (entries_.size() == window_) ReportOldest();
        hashes_.Add(entry.name);
        entries_.push_back(std::move(entry));
        ++checked_;
    }

    // Prints every result still to come; called before the list is read
    // further, so that nothing waits on a list that is slow to arrive.
    void ReportAll() {
        while (!entries_.empty()) ReportOldest();
    }

    size_t checked() const { return checked_; }
    size_t failures() const { return unreadable_ + mismatched_; }

    void WarnAboutFailures() const {
        Warn(console_, unreadable_, "listed file could not be read",
             "listed files could not be read");
        Warn(console_, mismatched_, "computed checksum did NOT match",
             "computed checksums did NOT match");
    }

private:
    void ReportOldest() {
        const THashResult result = hashes_.TakeOldest();
        const TCheckEntry& entry = entries_.front();
        const char* verdict = "OK";
        if (!result.Ok()) {
            Complain(console_, entry.name, std::strerror(result.error));
            verdict = "FAILED open or read";
            ++unreadable_;
        } else if (Lower(result.hex) != Lower(entry.hex)) {
            verdict = "FAILED";
            ++mismatched_;
        }
        Write(console_.out, CheckResultName(entry.name) + ": " + verdict + "\n");
        // Each result is seen as soon as it is known, also through a pipe.
        std::fflush(console_.out);
        entries_.pop_front();
    }

    const TConsole& console_;
    THashQueue hashes_;
    const size_t window_;
    std::deque<TCheckEntry> entries_;  // added, result not yet printed
    size_t checked_ = 0;
    size_t unreadable_ = 0;
    size_t mismatched_ = 0;
};

// Reads one check file and checks each proper line as it comes. Returns 0
// when every listed file was read and matched, else 1.
int CheckFile(const std::string& path, TCheckParser& parser, const TConsole& console) {
    const bool standardInput = path == "-";
    const std::string shownName = standardInput ? "standard input" : path;
    const TFile file = standardInput ? TFile::Borrow(STDIN_FILENO) : TFile(path);
    if (!file.IsOpen()) {
        // A folder opens but cannot be read.
        Complain(console, shownName,
                 file.error() == EISDIR ? "read error" : std::strerror(file.error()));
        return 1;
    }
    TLineReader reader(file.fd());
    TListCheck check(console);
    size_t improper = 0;
    for (;;) {
        if (!reader.LineBuffered()) check.ReportAll();
        const std::optional<std::string_view> line = reader.Next();
        if (!line) break;
        if (IsIgnoredLine(*line)) continue;
        std::optional<TCheckEntry> entry = parser.Parse(*line);
        // A list read from standard input cannot also name it as a file.
        if (!entry || (standardInput && entry->name == "-")) {
            ++improper;
        } else {
            check.Add(std::move(*entry));
        }
    }
    check.ReportAll();
    if (reader.error() != 0) {
        Complain(console, shownName, "read error");
        return 1;
    }
    if (check.checked() == 0) {
        Complain(console, shownName, "no properly formatted checksum lines found");
        return 1;
    }
    Warn(console, improper, "line is improperly formatted", "lines are improperly formatted");
    check.WarnAboutFailures();
    return check.failures() > 0 ? 1 : 0;
}

}  // namespace

int RunSum(const std::vector<std::string>& files, const TConsole& console) {
    const std::vector<std::string> paths = OrStandardInput(files);
    int status = 0;
    HashInOrder(paths, ThreadsFor(paths.size()), [&](size_t index, const THashResult& result) {
        if (!result.Ok()) {
            Complain(console, paths[index], std::strerror(result.error));
            status = 1;
            return;
        }
        Write(console.out, SumLine(Lower(result.hex), paths[index]));
    });
    return status;
}

int RunCheck(const std::vector<std::string>& checkFiles, const TConsole& console) {
    int status = 0;
    TCheckParser parser;  // one for all files: the mode marks carry over
    for (const std::string& path : OrStandardInput(checkFiles)) {
        status |= CheckFile(path, parser, console);
    }
    return status;
}

int FinishOutput(const TConsole& console, int status) {
    if (std::fflush(console.out) == 0 && !std::ferror(console.out)) return status;
    Write(console.err, console.program + ": write error\n");
    return 1;
}

}  // namespace wexhash
