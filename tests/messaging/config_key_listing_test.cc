// The key table as text, JSON and the reference page's markdown.
#include "messaging/config_key_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "messaging/config_keys.h"

namespace {

// Another program reads this shape: one key a line, the fields in this
// order, null where a key has no bound, choices or default.
TEST(KeyListingTest, JsonHasOneObjectPerKeyInTheAgreedShape) {
    std::string json = KeysAsJson();
    EXPECT_EQ(json.rfind("{\"keys\":[\n", 0), 0u);
    EXPECT_EQ(json.substr(json.size() - 3), "]}\n");
    EXPECT_EQ(static_cast<size_t>(std::count(json.begin(), json.end(), '\n')),
              ConfigKeys().size() + 2);
    EXPECT_NE(json.find("\n{\"name\":\"NRounds\",\"type\":\"integer\",\"min\":0,\"max\":100000,"
                        "\"choices\":null,\"default\":null,\"required\":true,\"treatment\":true,"
                        "\"meaning\":\"the number of rounds\"},\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\n{\"name\":\"TimeoutAnswer\",\"type\":\"integer or choice\",\"min\":0,"
                        "\"max\":60,\"choices\":[\"last\"],\"default\":\"last\","
                        "\"required\":false,\"treatment\":true,\"meaning\":\"the answer taken"),
              std::string::npos);
    EXPECT_NE(json.find("\n{\"name\":\"Dropout\",\"type\":\"choice\",\"min\":null,\"max\":null,"
                        "\"choices\":[\"robot\",\"pay\"],\"default\":\"robot\","),
              std::string::npos);
    EXPECT_NE(json.find("{\"name\":\"Service\",\"type\":\"service\",\"min\":null,\"max\":null,"),
              std::string::npos);
    // The last key has no comma after it.
    EXPECT_NE(json.find("\"name\":\"MaxMessageBytes\""), std::string::npos);
    EXPECT_EQ(json.find("},\n]}"), std::string::npos);
}

TEST(KeyListingTest, TextIsAlignedAndMarkdownHasARowPerKey) {
    std::string text = KeysAsText();
    std::string markdown = KeysAsMarkdown();
    size_t typeColumn = text.find("TYPE");
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        if (count == 0) continue;
        const ConfigKey& key = ConfigKeys().at(count - 1);
        EXPECT_EQ(line.rfind(key.name + "  ", 0), 0u) << line;
        EXPECT_EQ(
            line.compare(typeColumn, std::string(TypeName(key.kind)).size(), TypeName(key.kind)), 0)
            << line;
        EXPECT_EQ(line.substr(line.size() - key.meaning.size()), key.meaning);
        EXPECT_NE(markdown.find("\n| `" + key.name + "` | " + TypeName(key.kind) + " | "),
                  std::string::npos)
            << key.name;
    }
    EXPECT_EQ(static_cast<size_t>(count), ConfigKeys().size() + 1);
    EXPECT_NE(text.find("TimeoutAnswer         integer or choice  last, or 0 to 60  last"),
              std::string::npos);
    // Choices alone, without a range.
    EXPECT_NE(text.find("Dropout               choice             robot, or pay     robot"),
              std::string::npos);
    // A '|' inside a cell would end it.
    EXPECT_NE(markdown.find("[;tls=required\\|off]"), std::string::npos);
    EXPECT_NE(markdown.find("| `AnswerTimeout` | integer | 0 to 86400 | `0` | yes | seconds"),
              std::string::npos);
    EXPECT_NE(markdown.find("| `Service` | service |  | required |  | "), std::string::npos);
}

}  // namespace
