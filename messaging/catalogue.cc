#include "messaging/catalogue.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#ifndef WEX_PO_DEFAULT_DIR
#define WEX_PO_DEFAULT_DIR "/usr/share/wex/po"
#endif

namespace {

// Where continuation lines ("...") go.
enum class Field { kNone, kContext, kId, kPlural, kForm };

// Reads the quoted string at text[*pos], C escapes undone; false when it
// is not one.
bool ReadQuoted(const std::string& text, size_t* pos, std::string* out) {
    size_t i = *pos;
    if (i >= text.size() || text[i] != '"') return false;
    for (++i; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (++i >= text.size()) return false;
        c = text[i];
        const char* from = "ntr\"\\abfv?'";
        const char* to = "\n\t\r\"\\\a\b\f\v?'";
        if (const char* found = std::strchr(from, c); found != nullptr && c != '\0') {
            out->push_back(to[found - from]);
        } else if (c >= '0' && c <= '7') {
            int value = 0;
            for (int k = 0; k < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++k) {
                value = value * 8 + (text[i++] - '0');
            }
            --i;
            out->push_back(static_cast<char>(value));
        } else if (c == 'x' && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            int value = 0;
            while (i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                value = value * 16 + std::stoi(std::string(1, text[++i]), nullptr, 16);
            }
            out->push_back(static_cast<char>(value));
        } else {
            return false;
        }
    }
    return false;
}

// The rest of a line after a keyword: blanks, then one quoted string, then
// nothing but blanks.
bool ReadStringField(const std::string& line, size_t pos, std::string* out) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (!ReadQuoted(line, &pos, out)) return false;
    return line.find_first_not_of(" \t\r", pos) == std::string::npos;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// The value of a header field ("Plural-Forms: ..."), empty when absent.
std::string HeaderField(const std::string& header, const std::string& name) {
    std::istringstream lines(header);
    std::string line;
    while (std::getline(lines, line)) {
        if (StartsWith(line, name + ":")) return line.substr(name.size() + 1);
    }
    return std::string();
}

// A Plural-Forms expression evaluated for one n, in C's precedence.
// Division by 0 gives 0; a fault in the text makes ok false.
class PluralEval {
public:
    PluralEval(const std::string& text, unsigned long n) : m_text(text), m_n(n) {}

    long Run(bool* ok) {
        unsigned long value = Ternary();
        Blanks();
        *ok = m_ok && m_pos == m_text.size();
        return static_cast<long>(value);
    }

private:
    void Blanks() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos]))) {
            ++m_pos;
        }
    }
    bool Take(const char* token) {
        Blanks();
        size_t length = std::strlen(token);
        if (m_text.compare(m_pos, length, token) != 0) return false;
        // "<" is not the start of "<=", nor "=" of "==" here.
        if (length == 1 && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '=' &&
            std::strchr("<>!=", token[0]) != nullptr) {
            return false;
        }
        m_pos += length;
        return true;
    }
    unsigned long Ternary() {
        unsigned long condition = Or();
        if (!Take("?")) return condition;
        unsigned long yes = Ternary();
        if (!Take(":")) m_ok = false;
        unsigned long no = Ternary();
        return condition != 0 ? yes : no;
    }
    unsigned long Or() {
        unsigned long value = And();
        while (Take("||")) value = (And() != 0) | (value != 0);
        return value;
    }
    unsigned long And() {
        unsigned long value = Equality();
        while (Take("&&")) value = (Equality() != 0) & (value != 0);
        return value;
    }
    unsigned long Equality() {
        unsigned long value = Relation();
        for (;;) {
            if (Take("==")) {
                value = value == Relation();
            } else if (Take("!=")) {
                value = value != Relation();
            } else {
                return value;
            }
        }
    }
    unsigned long Relation() {
        unsigned long value = Sum();
        for (;;) {
            if (Take("<=")) {
                value = value <= Sum();
            } else if (Take(">=")) {
                value = value >= Sum();
            } else if (Take("<")) {
                value = value < Sum();
            } else if (Take(">")) {
                value = value > Sum();
            } else {
                return value;
            }
        }
    }
    unsigned long Sum() {
        unsigned long value = Product();
        for (;;) {
            if (Take("+")) {
                value += Product();
            } else if (Take("-")) {
                value -= Product();
            } else {
                return value;
            }
        }
    }
    unsigned long Product() {
        unsigned long value = Unary();
        for (;;) {
            if (Take("*")) {
                value *= Unary();
            } else if (Take("/")) {
                unsigned long d = Unary();
                value = d == 0 ? 0 : value / d;
            } else if (Take("%")) {
                unsigned long d = Unary();
                value = d == 0 ? 0 : value % d;
            } else {
                return value;
            }
        }
    }
    unsigned long Unary() {
        if (Take("!")) return Unary() == 0;
        if (Take("(")) {
            unsigned long value = Ternary();
            if (!Take(")")) m_ok = false;
            return value;
        }
        if (Take("n")) return m_n;
        Blanks();
        if (m_pos >= m_text.size() || !std::isdigit(static_cast<unsigned char>(m_text[m_pos]))) {
            m_ok = false;
            return 0;
        }
        unsigned long value = 0;
        while (m_pos < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_pos]))) {
            value = value * 10 + static_cast<unsigned long>(m_text[m_pos++] - '0');
        }
        return value;
    }

    const std::string& m_text;
    unsigned long m_n;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Reads "nplurals=N; plural=EXPR;" into count and rule; false when it is
// not that, or the rule gives an index outside 0..N-1 for a small n.
bool ReadPluralForms(const std::string& value, int* count, std::string* rule) {
    size_t nplurals = value.find("nplurals=");
    size_t plural = value.find("plural=", nplurals == std::string::npos ? 0 : nplurals + 9);
    if (nplurals == std::string::npos || plural == std::string::npos) return false;
    *count = std::atoi(value.c_str() + nplurals + 9);
    size_t end = value.find(';', plural);
    *rule =
        value.substr(plural + 7, end == std::string::npos ? std::string::npos : end - plural - 7);
    if (*count < 1) return false;
    for (unsigned long n = 0; n < 1000; ++n) {
        long index = PluralIndex(*rule, n);
        if (index < 0 || index >= *count) return false;
    }
    return true;
}

}  // namespace

long PluralIndex(const std::string& rule, unsigned long n) {
    bool ok = false;
    long index = PluralEval(rule, n).Run(&ok);
    return ok ? index : -1;
}

bool ReadPoEntries(const std::string& text, const std::string& where, std::vector<PoEntry>* entries,
                   std::string* error) {
    PoEntry entry;
    bool fuzzyNext = false;
    Field field = Field::kNone;
    int form = 0;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        *error = where + ":" + std::to_string(number) + ": " + why;
        return false;
    };
    auto finish = [&]() {
        if (entry.hasId) entries->push_back(entry);
        entry = PoEntry();
        field = Field::kNone;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            continue;
        }
        std::string rest = line.substr(start);
        if (rest[0] == '#') {
            // A comment ends the entry before it; "#," flags the next one.
            if (!entry.forms.empty()) finish();
            if (StartsWith(rest, "#,") && rest.find("fuzzy") != std::string::npos) fuzzyNext = true;
            continue;
        }
        std::string value;
        if (rest[0] == '"') {
            if (field == Field::kNone || !ReadStringField(rest, 0, &value)) {
                return fail("a string where none belongs");
            }
            std::string* target = field == Field::kContext  ? &entry.context
                                  : field == Field::kId     ? &entry.id
                                  : field == Field::kPlural ? &entry.plural
                                                            : &entry.forms[form];
            *target += value;
            continue;
        }
        size_t keyEnd = rest.find_first_of(" \t\"");
        std::string key = rest.substr(0, keyEnd);
        if (keyEnd == std::string::npos || !ReadStringField(rest, keyEnd, &value)) {
            return fail("expected a keyword and a quoted string");
        }
        if ((key == "msgctxt" || key == "msgid") && entry.hasId) {
            if (entry.forms.empty()) return fail("msgid without msgstr before it");
            finish();
        }
        if (key == "msgctxt") {
            entry.fuzzy = fuzzyNext;
            fuzzyNext = false;
            entry.context = value;
            field = Field::kContext;
        } else if (key == "msgid") {
            entry.fuzzy = entry.fuzzy || fuzzyNext;
            fuzzyNext = false;
            entry.hasId = true;
            entry.id = value;
            field = Field::kId;
        } else if (key == "msgid_plural" && entry.hasId) {
            entry.plural = value;
            field = Field::kPlural;
        } else if (key == "msgstr" && entry.hasId) {
            form = 0;
            entry.forms[0] = value;
            field = Field::kForm;
        } else if (StartsWith(key, "msgstr[") && key.back() == ']' && entry.hasId) {
            form = std::atoi(key.c_str() + 7);
            entry.forms[form] = value;
            field = Field::kForm;
        } else {
            return fail("unexpected " + key);
        }
    }
    if (entry.hasId && entry.forms.empty()) return fail("msgid without msgstr after it");
    finish();
    return true;
}

bool Catalogue::Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return LoadText(text.str(), path, error);
}

bool Catalogue::LoadText(const std::string& text, const std::string& where, std::string* error) {
    std::vector<PoEntry> entries;
    if (!ReadPoEntries(text, where, &entries, error)) return false;
    for (const PoEntry& e : entries) {
        if (e.id.empty() && e.context.empty()) {
            std::string forms = HeaderField(e.forms.count(0) ? e.forms.at(0) : "", "Plural-Forms");
            if (!forms.empty() && !ReadPluralForms(forms, &m_pluralCount, &m_pluralRule)) {
                *error = where + ": Plural-Forms is not one gettext can use: " + forms;
                return false;
            }
            continue;
        }
        if (e.fuzzy) continue;
        std::vector<std::string> texts;
        for (const auto& [index, translated] : e.forms) {
            if (index != static_cast<int>(texts.size()) || translated.empty()) break;
            texts.push_back(translated);
        }
        // Untranslated, or some form missing: the English stands.
        if (texts.size() != e.forms.size() || texts.empty()) continue;
        std::string key = e.context.empty() ? e.id : e.context + '\x04' + e.id;
        m_texts[key] = texts;
    }
    return true;
}

const char* Catalogue::Tr(const char* msgid) const {
    auto found = m_texts.find(msgid);
    return found == m_texts.end() ? msgid : found->second[0].c_str();
}

const char* Catalogue::TrN(const char* singular, const char* plural, unsigned long n) const {
    auto found = m_texts.find(singular);
    if (found != m_texts.end()) {
        long index = PluralIndex(m_pluralRule, n);
        if (index >= 0 && static_cast<size_t>(index) < found->second.size()) {
            return found->second[static_cast<size_t>(index)].c_str();
        }
    }
    return n == 1 ? singular : plural;
}

std::string CatalogueDir() {
    const char* dir = std::getenv("WEX_PO_DIR");
    return dir != nullptr && dir[0] != '\0' ? dir : WEX_PO_DEFAULT_DIR;
}

std::string CataloguePath(const std::string& dir, const std::string& language) {
    return dir + "/wexbot/" + language + ".po";
}

std::vector<std::string> KnownLanguages(const std::string& dir) {
    std::vector<std::string> known = {"en"};
    if (DIR* folder = opendir((dir + "/wexbot").c_str())) {
        while (dirent* item = readdir(folder)) {
            std::string name = item->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".po") == 0) {
                known.push_back(name.substr(0, name.size() - 3));
            }
        }
        closedir(folder);
    }
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    return known;
}

bool LoadLanguage(const std::string& language, const std::string& dir, Catalogue* catalogue,
                  std::string* error) {
    if (language == "en") return true;
    std::vector<std::string> known = KnownLanguages(dir);
    if (std::find(known.begin(), known.end(), language) == known.end()) {
        std::string list;
        for (const std::string& code : known) list += (list.empty() ? "" : ", ") + code;
        *error =
            "Language: no catalogue for '" + language + "' in " + dir + "/wexbot; known: " + list;
        return false;
    }
    std::string problem;
    if (!catalogue->Load(CataloguePath(dir, language), &problem)) {
        *error = "Language: " + problem;
        return false;
    }
    return true;
}
