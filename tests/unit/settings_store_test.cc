#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"

using namespace platform;
using testutil::ScopedEnv;
using testutil::TempDir;

namespace fs = std::filesystem;

namespace {

// Every test works in a store of its own, with HOME pointed away too.
class SettingsStore : public testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv xdg{"XDG_CONFIG_HOME", std::nullopt};
    ScopedEnv settings{"WEX_SETTINGS_DIR", dir / "store"};
    std::string root = dir / "store";

    std::string Read(const std::string& key, const std::string& value, size_t limit = 4096) {
        std::string text = "<none>";
        SettingsReadValue(key, value, limit, &text);
        return text;
    }
};

}  // namespace

TEST_F(SettingsStore, RootChoice) {
    EXPECT_EQ(SettingsRoot(), root);
    {
        ScopedEnv unset{"WEX_SETTINGS_DIR", std::nullopt};
        EXPECT_EQ(SettingsRoot(), dir / "home/.config/wex/registry");
        ScopedEnv xdgSet{"XDG_CONFIG_HOME", dir / "xdg"};
        EXPECT_EQ(SettingsRoot(), dir / "xdg/wex/registry");
        ScopedEnv relative{"XDG_CONFIG_HOME", "relative/dir"};
        EXPECT_EQ(SettingsRoot(), dir / "home/.config/wex/registry");
    }
    ScopedEnv empty{"WEX_SETTINGS_DIR", ""};
    EXPECT_EQ(SettingsRoot(), dir / "home/.config/wex/registry");
}

TEST_F(SettingsStore, KeyPathsMapOntoFolders) {
    EXPECT_EQ(SettingsKeyFolder("Software\\TarnMfcApp\\tarn\\connect"),
              root + "/Software/TarnMfcApp/tarn/connect");
    EXPECT_EQ(SettingsValueFile("Software\\TarnMfcApp\\Users\\bot\\tarn", "disableLocalRateLimits"),
              root + "/Software/TarnMfcApp/Users/bot/tarn/=disableLocalRateLimits");
}

TEST_F(SettingsStore, DangerousNamesAreEscapedOneToOne) {
    EXPECT_EQ(SettingsKeyFolder("..\\..\\etc"), root + "/%2E%2E/%2E%2E/etc");
    EXPECT_EQ(SettingsKeyFolder("a\\.\\\\b"), root + "/a/%2E/%/b");
    EXPECT_EQ(SettingsKeyFolder("a/../../b"), root + "/a%2F..%2F..%2Fb");
    EXPECT_EQ(SettingsKeyFolder(std::string("nul\0x", 5)), root + "/nul%00x");
    EXPECT_EQ(SettingsValueFile("k", ".."), root + "/k/=%2E%2E");
    EXPECT_EQ(SettingsValueFile("k", ""), root + "/k/=%");
    // The escape character and the value marker are escaped themselves, so
    // names that look like escapes stay distinct.
    EXPECT_EQ(SettingsKeyFolder("%2E\\%"), root + "/%252E/%25");
    EXPECT_EQ(SettingsKeyFolder("=v"), root + "/%3Dv");

    // Writing through such names stays inside the store.
    ASSERT_TRUE(SettingsWriteValue("..\\..\\out", "../../escaped", "x"));
    ASSERT_TRUE(SettingsWriteValue("", "", "empty"));
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        std::string path = entry.path().string();
        EXPECT_EQ(path.rfind(root, 0), 0u) << path << " is outside the store";
    }
    EXPECT_EQ(Read("..\\..\\out", "../../escaped"), "x");
    EXPECT_EQ(Read("", ""), "empty");
}

TEST_F(SettingsStore, WriteReplaceAndRead) {
    const std::string key = "Software\\TarnMfcApp\\tarn\\connect";
    EXPECT_FALSE(SettingsKeyExists(key));
    EXPECT_EQ(Read(key, "disableLocalRateLimits"), "<none>");
    ASSERT_TRUE(SettingsWriteValue(key, "disableLocalRateLimits", "-1"));
    EXPECT_TRUE(SettingsKeyExists(key));
    EXPECT_TRUE(SettingsKeyExists("Software\\TarnMfcApp"));
    ASSERT_TRUE(SettingsWriteValue(key, "disableLocalRateLimits", "0\n\xE2\x82\xAC"));
    EXPECT_EQ(Read(key, "disableLocalRateLimits"), "0\n\xE2\x82\xAC");
    EXPECT_EQ(Read(key, "other"), "<none>");

    // A value and a subkey of the same name live side by side.
    ASSERT_TRUE(SettingsWriteValue("Software\\TarnMfcApp\\tarn", "connect", "value"));
    EXPECT_EQ(Read("Software\\TarnMfcApp\\tarn", "connect"), "value");
    EXPECT_EQ(Read(key, "disableLocalRateLimits"), "0\n\xE2\x82\xAC");

    // The replacement left no temporary file behind.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(SettingsKeyFolder(key))) {
        EXPECT_EQ(entry.path().filename(), "=disableLocalRateLimits");
        ++files;
    }
    EXPECT_EQ(files, 1);

    EXPECT_TRUE(SettingsCreateKey("Software\\New"));
    EXPECT_TRUE(SettingsKeyExists("Software\\New"));
}

TEST_F(SettingsStore, ReadLimit) {
    ASSERT_TRUE(SettingsWriteValue("k", "fits", std::string(4096, 'a')));
    ASSERT_TRUE(SettingsWriteValue("k", "long", std::string(4097, 'b')));
    ASSERT_TRUE(SettingsWriteValue("k", "big", std::string(100000, 'c')));
    EXPECT_EQ(Read("k", "fits"), std::string(4096, 'a'));
    EXPECT_EQ(Read("k", "long"), "<none>");
    EXPECT_EQ(Read("k", "big"), "<none>");
    EXPECT_EQ(Read("k", "big", 100000).size(), 100000u);
    EXPECT_EQ(Read("k", "fits", 0), "<none>");
}

TEST_F(SettingsStore, FailsWhereTheStoreCannotBe) {
    testutil::WriteFile(dir / "file", "not a folder");
    ScopedEnv blocked{"WEX_SETTINGS_DIR", dir / "file"};
    EXPECT_FALSE(SettingsCreateKey("k"));
    EXPECT_FALSE(SettingsWriteValue("k", "v", "x"));
    EXPECT_FALSE(SettingsKeyExists("k"));
}
