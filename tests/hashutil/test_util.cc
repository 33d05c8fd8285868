#include "test_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace wexhash_test {
namespace fs = std::filesystem;

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

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(length);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

std::string Sha256sumUpper(const std::string& path) {
    const std::string command = "sha256sum < '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run sha256sum");
    char line[128] = {};
    const bool got = std::fgets(line, sizeof(line), pipe) != nullptr;
    pclose(pipe);
    if (!got) throw std::runtime_error("sha256sum printed nothing");
    std::string digest(line, 64);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
    const TTempDir dir;
    const std::string errPath = (dir.path() / "err").string();
    // Every word is quoted; test paths hold no quotation marks.
    std::string command = "env -i";
    for (const std::string& word : env) command += " '" + word + "'";
    command += " '" + program + "'";
    for (const std::string& word : args) command += " '" + word + "'";
    command += " </dev/null 2>'" + errPath + "'";

    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + program);
    TRunResult result;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
        result.out.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ostringstream err;
    err << std::ifstream(errPath).rdbuf();
    result.err = err.str();
    return result;
}

}  // namespace wexhash_test
