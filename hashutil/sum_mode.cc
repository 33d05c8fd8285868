#include "sum_mode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>

#include "check_line.h"
#include "file_names.h"
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

// What one check file holds: its proper lines in order and how many were not.
struct TCheckList {
    std::vector<TCheckEntry> entries;
    size_t improper = 0;
};

// Closes the file unless it is standard input.
struct TCloser {
    void operator()(std::FILE* file) const {
        if (file != stdin) std::fclose(file);
    }
};

// Reads a check file; nullopt after telling why it could not be read.
std::optional<TCheckList> ReadCheckList(const std::string& path, const std::string& shownName,
                                        TCheckParser& parser, const TConsole& console) {
    const std::unique_ptr<std::FILE, TCloser> file(path == "-" ? stdin
                                                               : std::fopen(path.c_str(), "r"));
    if (!file) {
        Complain(console, shownName, std::strerror(errno));
        return std::nullopt;
    }
    TCheckList list;
    char* buffer = nullptr;
    size_t capacity = 0;
    for (ssize_t length; (length = getline(&buffer, &capacity, file.get())) >= 0;) {
        std::string_view line(buffer, static_cast<size_t>(length));
        if (line.ends_with('\n')) line.remove_suffix(1);
        if (IsIgnoredLine(line)) continue;
        if (std::optional<TCheckEntry> entry = parser.Parse(line)) {
            list.entries.push_back(std::move(*entry));
        } else {
            ++list.improper;
        }
    }
    std::free(buffer);
    if (std::ferror(file.get())) {
        Complain(console, shownName, "read error");
        return std::nullopt;
    }
    return list;
}

// "N thing is/are ..." and the like, only when there is something to count.
void Warn(const TConsole& console, size_t count, const char* one, const char* many) {
    if (count == 0) return;
    Write(console.err, console.program + ": WARNING: " + std::to_string(count) + " " +
                           (count == 1 ? one : many) + "\n");
}

int CheckList(const TCheckList& list, const TConsole& console) {
    std::vector<std::string> names;
    for (const TCheckEntry& entry : list.entries) names.push_back(entry.name);
    size_t unreadable = 0, mismatched = 0;
    HashInOrder(names, ThreadsFor(names.size()), [&](size_t index, const THashResult& result) {
        const TCheckEntry& entry = list.entries[index];
        const char* verdict = "OK";
        if (!result.Ok()) {
            Complain(console, entry.name, std::strerror(result.error));
            verdict = "FAILED open or read";
            ++unreadable;
        } else if (Lower(result.hex) != Lower(entry.hex)) {
            verdict = "FAILED";
            ++mismatched;
        }
        Write(console.out, CheckResultName(entry.name) + ": " + verdict + "\n");
    });
    Warn(console, list.improper, "line is improperly formatted", "lines are improperly formatted");
    Warn(console, unreadable, "listed file could not be read", "listed files could not be read");
    Warn(console, mismatched, "computed checksum did NOT match",
         "computed checksums did NOT match");
    return unreadable + mismatched > 0 ? 1 : 0;
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
        const std::string shownName = path == "-" ? "standard input" : path;
        const std::optional<TCheckList> list = ReadCheckList(path, shownName, parser, console);
        if (!list) {
            status = 1;
        } else if (list->entries.empty()) {
            Complain(console, shownName, "no properly formatted checksum lines found");
            status = 1;
        } else {
            status |= CheckList(*list, console);
        }
    }
    return status;
}

int FinishOutput(const TConsole& console, int status) {
    if (std::fflush(console.out) == 0 && !std::ferror(console.out)) return status;
    Write(console.err, console.program + ": write error\n");
    return 1;
}

}  // namespace wexhash
