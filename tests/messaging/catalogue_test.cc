// The .po reader, the lookups with their English fallback, the plural
// rules and finding a language's catalogue.
#include "messaging/catalogue.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>

#include "platform/format_text.h"

namespace {

const char kHeader[] = R"(msgid ""
msgstr ""
"Language: de\n"
"Plural-Forms: nplurals=2; plural=(n != 1);\n"

)";

Catalogue Loaded(const std::string& text) {
    Catalogue catalogue;
    std::string error;
    EXPECT_TRUE(catalogue.LoadText(text, "test.po", &error)) << error;
    return catalogue;
}

TEST(CatalogueTest, ReadsEscapesAndStringsOverSeveralLines) {
    Catalogue c = Loaded(std::string(kHeader) + R"(
# a translator's comment
#: game/answers.cc:34
#, c-format
msgid ""
"Line one\n"
"Line \"two\"\t%i"
msgstr ""
"Zeile eins\n"
"Zeile \"zwei\"\t%i \\ \101\x42"

msgid "With context"
msgstr "Ohne Kontext"

msgctxt "status"
msgid "With context"
msgstr "Mit Kontext"
)");
    EXPECT_EQ(std::string(c.Tr("Line one\nLine \"two\"\t%i")),
              "Zeile eins\nZeile \"zwei\"\t%i \\ AB");
    EXPECT_EQ(std::string(c.Tr("With context")), "Ohne Kontext");
    EXPECT_EQ(c.Size(), 3u);
}

TEST(CatalogueTest, FallsBackToEnglishForMissingEmptyAndFuzzyTexts) {
    Catalogue c = Loaded(std::string(kHeader) + R"(
msgid "Empty"
msgstr ""

#, fuzzy, c-format
msgid "Fuzzy %i"
msgstr "Unscharf %i"

msgid "Kept"
msgstr "Behalten"

msgid "%i apple"
msgid_plural "%i apples"
msgstr[0] "%i Apfel"
msgstr[1] ""
)");
    EXPECT_EQ(std::string(c.Tr("Empty")), "Empty");
    EXPECT_EQ(std::string(c.Tr("Fuzzy %i")), "Fuzzy %i");
    EXPECT_EQ(std::string(c.Tr("Not there")), "Not there");
    EXPECT_EQ(std::string(c.Tr("Kept")), "Behalten");
    // A plural with a form left empty stays English in every form.
    EXPECT_EQ(std::string(c.TrN("%i apple", "%i apples", 1)), "%i apple");
    EXPECT_EQ(std::string(c.TrN("%i apple", "%i apples", 4)), "%i apples");
    EXPECT_EQ(c.Size(), 1u);
    // Nothing loaded: English, with English plurals.
    Catalogue english;
    EXPECT_EQ(std::string(english.TrN("%i apple", "%i apples", 0)), "%i apples");
    EXPECT_EQ(std::string(english.TrN("%i apple", "%i apples", 1)), "%i apple");
}

TEST(CatalogueTest, PicksPluralFormsByTheCataloguesRule) {
    Catalogue german = Loaded(std::string(kHeader) + R"(
msgid "%lu minute"
msgid_plural "%lu minutes"
msgstr[0] "%lu Minute"
msgstr[1] "%lu Minuten"
)");
    for (unsigned long n : {0ul, 1ul, 2ul, 21ul}) {
        EXPECT_EQ(platform::FormatText(german.TrN("%lu minute", "%lu minutes", n), n),
                  platform::FormatText(n == 1 ? "%lu Minute" : "%lu Minuten", n));
    }
    Catalogue polish = Loaded(R"(msgid ""
msgstr "Plural-Forms: nplurals=3; plural=(n==1 ? 0 : n%10>=2 && n%10<=4 && (n%100<10 || n%100>=20) ? 1 : 2);\n"

msgid "minute"
msgid_plural "minutes"
msgstr[0] "minuta"
msgstr[1] "minuty"
msgstr[2] "minut"
)");
    EXPECT_EQ(std::string(polish.TrN("minute", "minutes", 1)), "minuta");
    EXPECT_EQ(std::string(polish.TrN("minute", "minutes", 3)), "minuty");
    EXPECT_EQ(std::string(polish.TrN("minute", "minutes", 5)), "minut");
    EXPECT_EQ(std::string(polish.TrN("minute", "minutes", 12)), "minut");
    EXPECT_EQ(std::string(polish.TrN("minute", "minutes", 22)), "minuty");
}

TEST(CatalogueTest, EvaluatesPluralExpressionsAsC) {
    EXPECT_EQ(PluralIndex("n != 1", 1), 0);
    EXPECT_EQ(PluralIndex("n != 1", 0), 1);
    EXPECT_EQ(PluralIndex("0", 7), 0);
    EXPECT_EQ(PluralIndex("n>1", 1), 0);
    EXPECT_EQ(PluralIndex("n>1", 2), 1);
    EXPECT_EQ(PluralIndex("n%10==1 && n%100!=11 ? 0 : n != 0 ? 1 : 2", 11), 1);
    EXPECT_EQ(PluralIndex("n%10==1 && n%100!=11 ? 0 : n != 0 ? 1 : 2", 21), 0);
    EXPECT_EQ(PluralIndex("n%10==1 && n%100!=11 ? 0 : n != 0 ? 1 : 2", 0), 2);
    EXPECT_EQ(PluralIndex("!(n <= 1) + (n / 0)", 5), 1);  // x/0 gives 0
    for (const char* bad : {"", "n +", "(n", "n ? 1", "m", "n != 1;x"}) {
        EXPECT_EQ(PluralIndex(bad, 2), -1) << bad;
    }
}

TEST(CatalogueTest, RefusesWhatIsNoCatalogue) {
    struct Case {
        const char* text;
        const char* error;
    };
    for (const Case& c :
         {Case{"msgid \"a\"\nmsgstr \"b\n", "test.po:2: "},
          Case{"msgid \"a\"\nmsgstr \"\\q\"\n", "test.po:2: "}, Case{"\"stray\"\n", "test.po:1: "},
          Case{"msgid \"a\"\nmsgid \"b\"\nmsgstr \"\"\n", "test.po:2: "},
          Case{"msgid \"a\"\nmsgfoo \"b\"\n", "test.po:2: unexpected msgfoo"},
          Case{"msgid \"\"\nmsgstr \"Plural-Forms: nplurals=2; plural=n;\\n\"\n",
               "test.po: Plural-Forms"}}) {
        Catalogue catalogue;
        std::string error;
        EXPECT_FALSE(catalogue.LoadText(c.text, "test.po", &error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    Catalogue catalogue;
    std::string error;
    EXPECT_FALSE(catalogue.Load("/nonexistent/de.po", &error));
    EXPECT_EQ(error.rfind("cannot read /nonexistent/de.po: ", 0), 0u) << error;
}

// A catalogue folder in a temporary directory.
class LanguageTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/catalogue_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        ASSERT_EQ(system(("mkdir -p " + m_dir + "/wexbot").c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -r " + m_dir).c_str()), 0); }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(m_dir + "/wexbot/" + name) << text;
    }
    std::string m_dir;
};

TEST_F(LanguageTest, EnglishNeedsNoFileAndOthersTheirOwn) {
    Write("xx.po", std::string(kHeader) + "msgid \"Yes\"\nmsgstr \"Ja\"\n");
    Write("notes.txt", "not a catalogue");
    EXPECT_EQ(KnownLanguages(m_dir), (std::vector<std::string>{"en", "xx"}));
    Catalogue english;
    std::string error;
    EXPECT_TRUE(LoadLanguage("en", m_dir, &english, &error)) << error;
    EXPECT_EQ(english.Size(), 0u);
    Catalogue other;
    EXPECT_TRUE(LoadLanguage("xx", m_dir, &other, &error)) << error;
    EXPECT_EQ(std::string(other.Tr("Yes")), "Ja");
    Catalogue unknown;
    EXPECT_FALSE(LoadLanguage("fr", m_dir, &unknown, &error));
    EXPECT_EQ(error, "Language: no catalogue for 'fr' in " + m_dir + "/wexbot; known: en, xx");
    Write("yy.po", "msgid \"a\"\n");
    EXPECT_FALSE(LoadLanguage("yy", m_dir, &unknown, &error));
    EXPECT_EQ(error.rfind("Language: " + m_dir + "/wexbot/yy.po:", 0), 0u) << error;
}

TEST_F(LanguageTest, TheFolderComesFromTheEnvironment) {
    ASSERT_EQ(setenv("WEX_PO_DIR", m_dir.c_str(), 1), 0);
    EXPECT_EQ(CatalogueDir(), m_dir);
    ASSERT_EQ(unsetenv("WEX_PO_DIR"), 0);
    EXPECT_NE(CatalogueDir(), m_dir);
    EXPECT_EQ(CataloguePath("/x", "de"), "/x/wexbot/de.po");
}

}  // namespace
