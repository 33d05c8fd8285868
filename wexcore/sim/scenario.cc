#include "wexcore/sim/scenario.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/local_time.h"

namespace wexcore::sim {

namespace {

constexpr int64_t kDefaultEndAfterMs = 3600 * 1000;

struct CodeName {
    const char* name;
    HRESULT code;
};

#define WEX_CODE_NAME(id, code, text) {#id, MakeResult(code)},
const CodeName kCodeNames[] = {
    WEX_RESULT_CODES(WEX_CODE_NAME){"WEX_E_FILE_CORRUPT", WEX_E_FILE_CORRUPT},
    {"S_OK", S_OK},
    {"E_FAIL", E_FAIL},
    {"E_INVALIDARG", E_INVALIDARG},
    {"E_UNEXPECTED", E_UNEXPECTED}};
#undef WEX_CODE_NAME

// Splits off the next blank-separated token of rest.
std::string NextToken(std::string& rest) {
    size_t begin = rest.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        rest.clear();
        return std::string();
    }
    size_t end = rest.find_first_of(" \t", begin);
    std::string token = rest.substr(begin, end == std::string::npos ? end : end - begin);
    rest = end == std::string::npos ? std::string() : rest.substr(end);
    return token;
}

bool ParseInt(const std::string& token, int32_t* value) {
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(token.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool ParseCount(const std::string& token, int32_t* count) {
    return ParseInt(token, count) && *count >= 0;
}

// Seconds with optional decimals, as milliseconds.
bool ParseTime(const std::string& token, int64_t* ms) {
    if (token.empty() || token.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    double seconds = std::strtod(token.c_str(), &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds > 1e12) return false;
    *ms = std::llround(seconds * 1000.0);
    return true;
}

bool ParseOptionalInt(const std::string& token, std::optional<int32_t>* value) {
    if (token == "none") {
        value->reset();
        return true;
    }
    int32_t v = 0;
    if (!ParseInt(token, &v)) return false;
    *value = v;
    return true;
}

// Resolves \n, \t and \\ in an im text.
bool Unescape(const std::string& raw, std::string* text, std::string* fault) {
    text->clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text->push_back(raw[i]);
            continue;
        }
        char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
        if (next == 'n') {
            text->push_back('\n');
        } else if (next == 't') {
            text->push_back('\t');
        } else if (next == '\\') {
            text->push_back('\\');
        } else {
            *fault = "unknown escape in text (use \\n, \\t or \\\\)";
            return false;
        }
        ++i;
    }
    return true;
}

class Parser {
public:
    Parser(Scenario* scenario) : m_scenario(scenario) {}
    // Parses one line; false with *fault when malformed.
    bool Line(const std::string& line, int number, std::string* fault);

private:
    bool Header(const std::string& word, std::string rest, std::string* fault);
    bool Timed(std::string rest, int number, std::string* fault);
    bool TimedBody(const std::string& op, std::string rest, Directive* d, std::string* fault);

    Scenario* m_scenario;
};

bool Parser::Line(const std::string& line, int number, std::string* fault) {
    std::string rest = line;
    std::string word = NextToken(rest);
    if (word.empty() || word[0] == '#') return true;
    if (word == "at") return Timed(rest, number, fault);
    if (!m_scenario->timed.empty()) {
        *fault = "header directive '" + word + "' after the first 'at'";
        return false;
    }
    return Header(word, rest, fault);
}

bool Parser::Header(const std::string& word, std::string rest, std::string* fault) {
    if (word == "password") {
        // The password is the rest of the line after one blank, kept exactly.
        m_scenario->password = rest.empty() ? std::string() : rest.substr(1);
        return true;
    }
    std::vector<std::string> args;
    for (std::string t = NextToken(rest); !t.empty(); t = NextToken(rest)) args.push_back(t);
    if (word == "start") {
        int64_t seconds = 0;
        if (args.size() != 1 || !platform::ParseLocalTime(args[0], &seconds)) {
            *fault = "start needs one time written YYYY-MM-DDTHH:MM:SS";
            return false;
        }
        m_scenario->startSeconds = seconds;
        return true;
    }
    if (word == "wirelog") {
        if (args.size() != 1) {
            *fault = "wirelog needs one path";
            return false;
        }
        m_scenario->wireLogPath = args[0];
        return true;
    }
    if (word == "record") {
        if (args.size() != 1 || args[0] != "game") {
            *fault = "expected 'record game'";
            return false;
        }
        m_scenario->recordElements = true;
        return true;
    }
    if (word == "signon") {
        HRESULT code = 0;
        if (args.size() != 2 || args[0] != "fail" || !ParseResultCode(args[1], &code)) {
            *fault = "expected 'signon fail CODE'";
            return false;
        }
        m_scenario->signOnFailure = code;
        return true;
    }
    *fault = "unknown directive '" + word + "'";
    return false;
}

bool Parser::Timed(std::string rest, int number, std::string* fault) {
    Directive d;
    d.lineNumber = number;
    std::string time = NextToken(rest);
    if (!ParseTime(time, &d.atMs)) {
        *fault = "expected a time in seconds after 'at', found '" + time + "'";
        return false;
    }
    if (!m_scenario->timed.empty() && d.atMs < m_scenario->timed.back().atMs) {
        *fault = "time " + time + " is earlier than the line before";
        return false;
    }
    std::string op = NextToken(rest);
    if (!TimedBody(op, rest, &d, fault)) return false;
    m_scenario->timed.push_back(d);
    return true;
}

bool Parser::TimedBody(const std::string& op, std::string rest, Directive* d, std::string* fault) {
    using Op = Directive::Op;
    if (op == "im") {
        d->op = Op::kIm;
        d->name = NextToken(rest);
        if (d->name.empty()) {
            *fault = "im needs a screen name";
            return false;
        }
        // The text is everything after the one blank that follows the name.
        std::string raw = rest.empty() ? std::string() : rest.substr(1);
        return Unescape(raw, &d->text, fault);
    }
    std::vector<std::string> args;
    for (std::string t = NextToken(rest); !t.empty(); t = NextToken(rest)) args.push_back(t);
    auto arity = [&](size_t min, size_t max) {
        if (args.size() >= min && args.size() <= max) return true;
        *fault = "wrong number of values for '" + op + "'";
        return false;
    };
    auto code = [&](size_t i, HRESULT* out) {
        if (ParseResultCode(args[i], out)) return true;
        *fault = "'" + args[i] + "' is not a result code";
        return false;
    };
    auto count = [&](size_t i, int32_t* out) {
        if (ParseCount(args[i], out)) return true;
        *fault = "'" + args[i] + "' is not a count";
        return false;
    };
    if (op == "state") {
        d->op = Op::kState;
        if (!arity(1, 2)) return false;
        if (!ParseInt(args[0], &d->state)) {
            *fault = "'" + args[0] + "' is not a state number";
            return false;
        }
        return args.size() < 2 || code(1, &d->code);
    }
    if (op == "drop") {
        d->op = Op::kDrop;
        return arity(0, 0);
    }
    if (op == "crash") {
        d->op = Op::kCrash;
        return arity(0, 0);
    }
    if (op == "signal") {
        d->op = Op::kSignal;
        if (!arity(1, 1)) return false;
        d->name = args[0];
        if (d->name == "INT" || d->name == "TERM") return true;
        *fault = "signal needs INT or TERM";
        return false;
    }
    if (op == "presence") {
        d->op = Op::kPresence;
        if (!arity(2, 2)) return false;
        d->name = args[0];
        // again: an online peer's client announces itself anew (state 2).
        if (args[1] == "on" || args[1] == "off" || args[1] == "again") {
            d->state = args[1] == "on" ? 1 : args[1] == "again" ? 2 : 0;
            return true;
        }
        *fault = "presence needs on, off or again";
        return false;
    }
    if (op == "end") {
        d->op = Op::kEnd;
        return arity(0, 1) && (args.empty() || code(0, &d->code));
    }
    if (op == "request") {
        d->op = Op::kRequest;
        if (!arity(2, 3)) return false;
        if (!ParseOptionalInt(args[0], &d->kind) || !ParseOptionalInt(args[1], &d->prop)) {
            *fault = "request needs KIND and PROP as integers or 'none'";
            return false;
        }
        d->state = 50;
        if (args.size() == 3 && !ParseInt(args[2], &d->state)) {
            *fault = "'" + args[2] + "' is not a request state";
            return false;
        }
        return true;
    }
    if (op == "ratelimit") {
        d->op = Op::kRateLimit;
        if (!arity(2, 2)) return false;
        d->name = args[0];
        d->code = WEX_E_RATE_LIMITED;
        return count(1, &d->count);
    }
    if (op == "fail") {
        d->op = Op::kFail;
        if (!arity(2, 3)) return false;
        d->name = args[0];
        return code(1, &d->code) && (args.size() < 3 || count(2, &d->count));
    }
    if (op == "openfail") {
        d->op = Op::kOpenFail;
        if (!arity(1, 2)) return false;
        d->name = args[0];
        return args.size() < 2 || count(1, &d->count);
    }
    *fault = op.empty() ? std::string("missing directive after the time")
                        : "unknown directive 'at T " + op + "'";
    return false;
}

}  // namespace

bool ParseResultCode(const std::string& token, HRESULT* code) {
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        if (token.size() > 10) return false;
        char* end = nullptr;
        unsigned long v = std::strtoul(token.c_str() + 2, &end, 16);
        if (*end != '\0') return false;
        *code = MakeResult(static_cast<uint32_t>(v));
        return true;
    }
    for (const CodeName& entry : kCodeNames) {
        if (token == entry.name) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

bool ParseScenario(const std::string& text, const std::string& fileName, Scenario* scenario,
                   std::string* error) {
    *scenario = Scenario();
    Parser parser(scenario);
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string fault;
        if (!parser.Line(line, number, &fault)) {
            *error = fileName + ":" + std::to_string(number) + ": " + fault;
            return false;
        }
    }
    bool hasEnd = false;
    for (const Directive& d : scenario->timed) hasEnd = hasEnd || d.op == Directive::Op::kEnd;
    if (!hasEnd) {
        Directive end;
        end.op = Directive::Op::kEnd;
        end.atMs = (scenario->timed.empty() ? 0 : scenario->timed.back().atMs) + kDefaultEndAfterMs;
        scenario->timed.push_back(end);
    }
    return true;
}

}  // namespace wexcore::sim
