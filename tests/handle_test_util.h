// Helpers for the tests of the bot's text handles and configuration record.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "bot/string_ops.h"
#include "messaging/property_file.h"
#include "tests/test_util.h"

namespace testutil {

inline std::string Narrow(WEXSTR handle) {
    std::string text;
    EXPECT_EQ(ToNarrow(text, handle), S_OK);
    return text;
}
inline std::string Narrow(const CWexBstr& handle) {
    return Narrow(handle.get());
}

// A configuration record holding the given texts, without files.
inline PropertyFile ConfigFrom(const std::string& config, const std::string& passwords = "") {
    PropertyFile file;
    AssignText(file.configText, config);
    AssignText(file.passwordText, passwords);
    return file;
}

}  // namespace testutil
