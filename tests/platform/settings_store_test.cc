#include "platform/settings_store.h"

#include "tests/test_util.h"

using namespace platform;
using testutil::ScopedEnv;

namespace {

// Each test has a store of its own, with HOME pointed away too.
class SettingsStore : public testing::Test {
protected:
    std::string Read(const std::string& key, const std::string& value, size_t limit = 4096) {
        std::string text = "<none>";
        SettingsReadValue(key, value, limit, &text);
        return text;
    }

    testutil::TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv xdg{"XDG_CONFIG_HOME", std::nullopt};
    ScopedEnv settings{"WEX_SETTINGS_DIR", dir / "store"};
    std::string root = dir / "store";
};

}  // namespace

TEST_F(SettingsStore, RootAndPaths) {
    EXPECT_EQ(SettingsValueFile("Software\\TarnMfcApp\\tarn\\connect", "disableLocalRateLimits"),
              root + "/Software/TarnMfcApp/tarn/connect/=disableLocalRateLimits");
    ScopedEnv unset{"WEX_SETTINGS_DIR", ""};
    EXPECT_EQ(SettingsRoot(), dir / "home/.config/wex/registry");
    ScopedEnv relative{"XDG_CONFIG_HOME", "relative"};
    EXPECT_EQ(SettingsRoot(), dir / "home/.config/wex/registry");
    ScopedEnv absolute{"XDG_CONFIG_HOME", dir / "xdg"};
    EXPECT_EQ(SettingsRoot(), dir / "xdg/wex/registry");
}

TEST_F(SettingsStore, EscapingIsOneToOneAndStaysInside) {
    EXPECT_EQ(SettingsKeyFolder("..\\.\\\\a/b"), root + "/%2E%2E/%2E/%/a%2Fb");
    EXPECT_EQ(SettingsKeyFolder(std::string("%2E\\=\0", 6)), root + "/%252E/%3D%00");
    EXPECT_EQ(SettingsValueFile("k", ".."), root + "/k/=%2E%2E");
    ASSERT_TRUE(SettingsWriteValue("..\\..\\out", "../../x", "1"));
    ASSERT_TRUE(SettingsWriteValue("", "", "2"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path)) {
        EXPECT_EQ(entry.path().string().rfind(root, 0), 0u) << entry.path();
    }
    EXPECT_EQ(Read("..\\..\\out", "../../x"), "1");
    EXPECT_EQ(Read("", ""), "2");
}

TEST_F(SettingsStore, AtomicReplaceAndKeysBesideValues) {
    const std::string key = "Software\\TarnMfcApp\\tarn\\connect";
    EXPECT_FALSE(SettingsKeyExists(key));
    EXPECT_EQ(Read(key, "v"), "<none>");
    ASSERT_TRUE(SettingsWriteValue(key, "v", "-1"));
    ASSERT_TRUE(SettingsWriteValue(key, "v", "0\n\xE2\x82\xAC"));
    EXPECT_TRUE(SettingsKeyExists("Software\\TarnMfcApp"));
    // A value may share its name with a subkey.
    ASSERT_TRUE(SettingsWriteValue("Software\\TarnMfcApp\\tarn", "connect", "beside"));
    EXPECT_EQ(Read("Software\\TarnMfcApp\\tarn", "connect"), "beside");
    EXPECT_EQ(Read(key, "v"), "0\n\xE2\x82\xAC");
    // No temporary file is left behind.
    auto files = std::filesystem::directory_iterator(SettingsKeyFolder(key));
    EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

TEST_F(SettingsStore, ReadLimitAndFailures) {
    ASSERT_TRUE(SettingsWriteValue("k", "fits", std::string(4096, 'a')));
    ASSERT_TRUE(SettingsWriteValue("k", "long", std::string(9000, 'b')));
    EXPECT_EQ(Read("k", "fits").size(), 4096u);
    EXPECT_EQ(Read("k", "fits", 4095), "<none>");
    EXPECT_EQ(Read("k", "long"), "<none>");
    testutil::WriteFile(dir / "file", "not a folder");
    ScopedEnv blocked{"WEX_SETTINGS_DIR", dir / "file"};
    EXPECT_FALSE(SettingsCreateKey("k"));
    EXPECT_FALSE(SettingsWriteValue("k", "v", "x"));
}
