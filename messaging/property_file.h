// The configuration record: the configuration file's text, the password
// file's text, and lookups of "Key value" entries and password lines.
#pragma once

#include <set>
#include <string>

#include "wexcore/result_codes.h"
#include "wexcore/wex_string.h"

// Appends every byte of the file at path to text, without a leading UTF-8
// byte order mark. A file that can't be read leaves text as it was and
// returns false with *problem saying why (e.g. "No such file or directory").
bool ReadFileText(const std::string& path, std::string* text, std::string* problem);

struct PropertyFile {
    CWexBstr configPath;    // the path given on the command line
    CWexBstr configText;    // the configuration file's whole text
    CWexBstr passwordText;  // the text of the file named by PasswordFile
    // Set when the configuration file itself could not be read: one line
    // naming the file and why. Start-up is refused with it.
    std::string loadProblem;
    // Test hook: when set, every key looked up is added to it.
    std::set<std::string>* keysAsked = nullptr;

    // Prints the working directory, then reads the configuration file at
    // path and the password file it names. A missing file leaves its text
    // empty (and, for the configuration file, sets loadProblem). Fails only
    // when a text can't be converted.
    HRESULT Load(const std::string& path);

    // S_OK and the entry's value when the key has an entry; S_FALSE (1)
    // with value untouched when it has none. An entry is a line starting
    // with the key followed by a blank, a tab or the end of the text; the
    // first entry counts.
    HRESULT GetString(const std::string& key, CWexBstr& value) const;
    // The value read as a number; 0 when absent or not a number.
    HRESULT GetInt(const std::string& key, int* value) const;
    HRESULT GetDouble(const std::string& key, double* value) const;
    // Line index (0 = first) of the password text; empty when there is no
    // such line. A CR before the LF is not part of the line.
    HRESULT GetPasswordLine(int index, CWexBstr& line) const;

private:
    HRESULT GetNarrow(const std::string& key, std::string* value) const;
};
