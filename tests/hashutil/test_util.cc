#include "test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace wexhash_test {
namespace fs = std::filesystem;
namespace {

std::string ReadAll(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child: redirects fd to path, opened with flags.
void Redirect(int fd, const std::string& path, int flags) {
    const int opened = open(path.c_str(), flags, 0600);
    if (opened < 0 || dup2(opened, fd) < 0) _exit(127);
    close(opened);
}

}  // namespace

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "wexhash-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TTempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = (path_ / name).string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::string TTempDir::Write(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(length);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

std::string Sha256sumUpper(const std::string& path) {
    const TRunResult run = RunCommand({"/usr/bin/sha256sum", "", {}, {}, "", path, ""});
    if (run.status != 0 || run.out.size() < 64) throw std::runtime_error("sha256sum failed");
    std::string digest = run.out.substr(0, 64);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

TRunResult RunCommand(const TCommand& command) {
    const TTempDir dir;
    const std::string outPath = (dir.path() / "out").string();
    const std::string errPath = (dir.path() / "err").string();
    std::vector<std::string> argv = {command.argv0.empty() ? command.program : command.argv0};
    argv.insert(argv.end(), command.args.begin(), command.args.end());
    std::vector<std::string> env = command.env;
    const std::vector<char*> argvPointers = Pointers(argv);
    const std::vector<char*> envPointers = Pointers(env);

    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        Redirect(STDIN_FILENO, command.input, O_RDONLY);
        Redirect(STDOUT_FILENO, command.output.empty() ? outPath : command.output,
                 O_WRONLY | O_CREAT | O_TRUNC);
        Redirect(STDERR_FILENO, errPath, O_WRONLY | O_CREAT | O_TRUNC);
        if (!command.cwd.empty() && chdir(command.cwd.c_str()) != 0) _exit(127);
        execve(command.program.c_str(), argvPointers.data(), envPointers.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(outPath), ReadAll(errPath)};
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
    return RunCommand({program, "", args, env, "", "/dev/null", ""});
}

}  // namespace wexhash_test
