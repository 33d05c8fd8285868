// Helpers shared by the wexhash tests: temporary folders, test data, the
// independent sha256sum reference and running programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace wexhash_test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file named name in this folder and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path path_;
};

// length pseudo-random bytes, the same for the same seed.
std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed);

// sha256sum's digest of the file, in upper case.
std::string Sha256sumUpper(const std::string& path);

struct TCommand {
    std::string program;              // path of the executable
    std::string argv0;                // its name as the program sees it; program when empty
    std::vector<std::string> args;    // each one argument, passed as it is
    std::vector<std::string> env;     // the whole environment, "NAME=value"
    std::string cwd;                  // working folder; the caller's when empty
    std::string input = "/dev/null";  // file on standard input
    std::string output;               // file for standard output; collected when empty
};

struct TRunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs the command to its end and collects both output streams.
TRunResult RunCommand(const TCommand& command);

// Runs program with args and only the environment env ("NAME=value").
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env);

}  // namespace wexhash_test
