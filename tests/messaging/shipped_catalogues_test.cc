// The catalogues in po/wexbot: each translates every text of the template,
// keeping its placeholders in kind and order.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "messaging/catalogue.h"

namespace {

const std::string kFolder = std::string(SOURCE_DIR) + "/po/wexbot";

std::vector<PoEntry> ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<PoEntry> entries;
    std::string error;
    EXPECT_TRUE(ReadPoEntries(text.str(), path, &entries, &error)) << error;
    return entries;
}

// The printf conversions of a text in order, "%%" left out: "%3.2f",
// "%lld", "%s".
std::vector<std::string> Placeholders(const std::string& text) {
    std::vector<std::string> found;
    for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i)) {
        if (i + 1 < text.size() && text[i + 1] == '%') {
            i += 2;
            continue;
        }
        size_t end = text.find_first_of("diouxXeEfFgGaAcspn", i + 1);
        if (end == std::string::npos) end = text.size() - 1;
        found.push_back(text.substr(i, end - i + 1));
        i = end + 1;
    }
    return found;
}

TEST(ShippedCataloguesTest, PlaceholdersAreFoundInOrder) {
    EXPECT_EQ(Placeholders("%s total: %3.2f, 100%% of $%3.2f in %lld s (%zu)"),
              (std::vector<std::string>{"%s", "%3.2f", "%3.2f", "%lld", "%zu"}));
    EXPECT_TRUE(Placeholders("no placeholder").empty());
}

std::vector<std::string> Languages() {
    std::vector<std::string> codes;
    if (DIR* folder = opendir(kFolder.c_str())) {
        while (dirent* item = readdir(folder)) {
            std::string name = item->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".po") == 0) {
                codes.push_back(name.substr(0, name.size() - 3));
            }
        }
        closedir(folder);
    }
    return codes;
}

TEST(ShippedCataloguesTest, EveryTextTranslatedWithItsPlaceholders) {
    std::vector<PoEntry> pot = ReadFile(kFolder + "/wexbot.pot");
    ASSERT_GT(pot.size(), 50u);
    std::vector<std::string> languages = Languages();
    ASSERT_NE(std::find(languages.begin(), languages.end(), "de"), languages.end());
    for (const std::string& language : languages) {
        std::map<std::string, PoEntry> translated;
        for (const PoEntry& entry : ReadFile(kFolder + "/" + language + ".po")) {
            translated[entry.context + '\x04' + entry.id] = entry;
        }
        Catalogue catalogue;
        std::string error;
        ASSERT_TRUE(catalogue.Load(kFolder + "/" + language + ".po", &error)) << error;
        for (const PoEntry& text : pot) {
            if (text.id.empty()) continue;  // the header
            auto found = translated.find(text.context + '\x04' + text.id);
            ASSERT_NE(found, translated.end()) << language << " lacks: " << text.id;
            const PoEntry& entry = found->second;
            EXPECT_FALSE(entry.fuzzy) << language << " has as fuzzy: " << text.id;
            EXPECT_EQ(entry.plural, text.plural) << text.id;
            EXPECT_EQ(entry.forms.size(), text.plural.empty() ? 1u : 2u) << text.id;
            for (const auto& [index, form] : entry.forms) {
                EXPECT_FALSE(form.empty()) << language << " leaves empty: " << text.id;
                const std::string& english = index == 0 ? text.id : text.plural;
                EXPECT_EQ(Placeholders(form), Placeholders(english))
                    << language << ", form " << index << " of: " << text.id;
            }
        }
        EXPECT_EQ(catalogue.Size(), pot.size() - 1) << language;
    }
}

}  // namespace
