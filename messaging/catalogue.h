// The texts the bot sends subjects and the moderator, in the session's
// language: a message catalogue in gettext's .po form. The English text is
// the key; a text the catalogue lacks, or leaves empty, stays English.
// A catalogue is loaded once at start-up and only read after that.
#pragma once

#include <map>
#include <string>
#include <vector>

// Marks an English text for the catalogue where it is written, when it is
// translated only where it is sent.
#define N_(text) text

// One entry of a .po file as written.
struct PoEntry {
    bool fuzzy = false;
    bool hasId = false;
    std::string context;               // msgctxt, empty when none
    std::string id;                    // msgid
    std::string plural;                // msgid_plural, empty when none
    std::map<int, std::string> forms;  // msgstr (0) or msgstr[N]
};

// Reads a .po file's entries (the header too, with an empty id) in the
// order written; false with *error naming where and the line when the text
// is no catalogue.
bool ReadPoEntries(const std::string& text, const std::string& where, std::vector<PoEntry>* entries,
                   std::string* error);

class Catalogue {
public:
    // Reads a .po file; false with *error naming the file and line when it
    // cannot be read or is no catalogue. Fuzzy entries are left out.
    bool Load(const std::string& path, std::string* error);
    // The same from a catalogue's text; where names the text in errors.
    bool LoadText(const std::string& text, const std::string& where, std::string* error);

    // The translation of msgid, or msgid itself.
    const char* Tr(const char* msgid) const __attribute__((format_arg(2)));
    // The form for n of a text with a plural: the translation's form the
    // catalogue's Plural-Forms rule picks, or, untranslated, singular for 1
    // and plural otherwise.
    const char* TrN(const char* singular, const char* plural, unsigned long n) const
        __attribute__((format_arg(2))) __attribute__((format_arg(3)));

    // How many translated texts the catalogue holds.
    size_t Size() const { return m_texts.size(); }

private:
    // msgid -> its translated forms, all non-empty (one without a plural).
    std::map<std::string, std::vector<std::string>> m_texts;
    int m_pluralCount = 2;
    std::string m_pluralRule = "n != 1";
};

// The form index a Plural-Forms expression ("n != 1", "n==1 ? 0 : ...")
// gives for n; -1 when the expression is not one C's grammar allows.
long PluralIndex(const std::string& rule, unsigned long n);

// The folder of the catalogues: $WEX_PO_DIR, else the installed one.
std::string CatalogueDir();
// The bot's catalogue file of a language in dir.
std::string CataloguePath(const std::string& dir, const std::string& language);
// The languages dir has a bot catalogue for, "en" among them, sorted.
std::vector<std::string> KnownLanguages(const std::string& dir);
// Loads the catalogue of language from dir into *catalogue ("en" needs no
// file); false with *error, one line naming the language and the known
// ones, when there is none or it cannot be read.
bool LoadLanguage(const std::string& language, const std::string& dir, Catalogue* catalogue,
                  std::string* error);
