// The key table: whole entries, defaults that are values of their keys,
// and the keys a treatment may set.
#include "messaging/config_keys.h"

#include <gtest/gtest.h>

#include <set>

#include "messaging/config_values.h"

namespace {

TEST(ConfigKeysTest, EveryEntryIsWholeAndItsDefaultIsAValueOfIt) {
    std::set<std::string> names;
    for (const ConfigKey& key : ConfigKeys()) {
        SCOPED_TRACE(key.name);
        EXPECT_TRUE(names.insert(key.name).second) << "given twice";
        EXPECT_EQ(FindConfigKey(key.name), &key);
        EXPECT_FALSE(key.meaning.empty());
        EXPECT_EQ(key.meaning.find('\n'), std::string::npos);
        EXPECT_FALSE(key.required && key.defaultValue) << "a required key has no default";
        if (key.min && key.max) {
            EXPECT_LE(*key.min, *key.max);
        }
        bool chooses = key.kind == ValueKind::kAnswer || key.kind == ValueKind::kChoice;
        EXPECT_EQ(key.choices.empty(), !chooses);
        if (key.defaultValue) {
            EXPECT_EQ(ValueFault(key, *key.defaultValue), "");
        }
    }
    EXPECT_EQ(FindConfigKey("Colour"), nullptr);
    EXPECT_EQ(FindConfigKey("nrounds"), nullptr);
}

// A lab treatment may set exactly the game's keys and the pay, flood,
// message, timeout and dropout rules that wexlab's session file lets it set.
TEST(ConfigKeysTest, TreatmentKeysAreTheGameAndPayRules) {
    std::set<std::string> treatment;
    for (const ConfigKey& key : ConfigKeys()) {
        if (key.treatment) treatment.insert(key.name);
    }
    EXPECT_EQ(treatment,
              (std::set<std::string>{
                  "NRounds",       "ConversationInterval", "MarketBase",      "MarketNoiseScale",
                  "MarketNoise",   "BonusMarketRGR",       "BonusMarketGW",   "MaxChatTime",
                  "MaxChatIdle",   "CreditValue",          "MinPayout",       "MaxPayout",
                  "FloodLimit",    "FloodSeconds",         "MaxMessageBytes", "AnswerTimeout",
                  "TimeoutAnswer", "TimeoutExtend",        "DropoutAfter",    "Dropout",
                  "StandIn"}));
}

}  // namespace
