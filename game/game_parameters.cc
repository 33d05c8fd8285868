// The game's settings, read once at start-up, and the per-round storage.
#include <cmath>
#include <cstdlib>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_rules.h"
#include "platform/console.h"
#include "platform/format_text.h"

namespace {

// Appends each comma-separated piece of the key's value, read as a real
// number, to list. An absent key reads as one empty piece.
HRESULT ReadNumberList(const PropertyFile& config, const char* key, std::vector<double>* list) {
    CWexBstr value;
    HRESULT hr = config.GetString(key, value);
    if (Failed(hr)) return hr;
    std::string text;
    hr = ToNarrow(text, value);
    if (Failed(hr)) return hr;
    size_t begin = 0;
    while (true) {
        size_t comma = text.find(',', begin);
        list->push_back(std::atof(text.substr(begin, comma - begin).c_str()));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return S_OK;
}

// More rounds than any session plays; the per-round storage is made for
// all of them before sign-on, so a mistyped count must not reach it.
constexpr int32_t kMaxRounds = 100000;

bool Refuse(const std::string& reason) {
    platform::PrintErrorLine("wexbot: " + reason);
    return false;
}

// True when the key's value begins, after blanks, with a whole number (as
// the integer reading takes it), or when the key is absent.
bool ReadsAsNumber(const PropertyFile& config, const char* key) {
    CWexBstr value;
    std::string text;
    if (config.GetString(key, value) != S_OK || Failed(ToNarrow(text, value))) return true;
    size_t i = text.find_first_not_of(" \t");
    if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

// Refuses settings with which the game can't be played soundly.
bool CheckGameParameters(const GameParameters& p) {
    if (p.nRounds > kMaxRounds) {
        return Refuse("NRounds must be at most " + std::to_string(kMaxRounds) + ", found " +
                      std::to_string(p.nRounds));
    }
    if (p.conversationInterval < 1) {
        return Refuse("ConversationInterval must be 1 or more, found " +
                      std::to_string(p.conversationInterval));
    }
    for (size_t i = 0; i < p.marketNoise.size(); ++i) {
        double divisor = DivisorForNoise(p, p.marketNoise[i]);
        if (divisor == 0 || !std::isfinite(divisor)) {
            return Refuse("MarketNoise element " + std::to_string(i + 1) +
                          " gives a market divisor of 0 or one that is not finite "
                          "(check MarketBase, MarketNoiseScale and MarketNoise)");
        }
    }
    return true;
}

// Reads an optional key of the pay rule: a real number of 0 or more; an
// absent key keeps *value.
bool ReadAmount(const PropertyFile& config, const char* key, double* value) {
    CWexBstr raw;
    std::string text;
    if (config.GetString(key, raw) != S_OK) return true;
    ToNarrow(text, raw);
    char* end = nullptr;
    double number = std::strtod(text.c_str(), &end);
    bool whole =
        end != text.c_str() && std::string(end).find_first_not_of(" \t\r") == std::string::npos;
    if (!whole || !std::isfinite(number) || number < 0) {
        return Refuse(std::string(key) + " must be a number of 0 or more, found \"" + text + "\"");
    }
    *value = number;
    return true;
}

// The lab's pay rule: CreditValue, MinPayout and MaxPayout.
bool ReadPayRule(const PropertyFile& config, GameParameters* p) {
    if (!ReadAmount(config, "CreditValue", &p->creditValue) ||
        !ReadAmount(config, "MinPayout", &p->minPayout) ||
        !ReadAmount(config, "MaxPayout", &p->maxPayout)) {
        return false;
    }
    if (p->minPayout > p->maxPayout) {
        return Refuse("MinPayout (" + platform::FormatText("%g", p->minPayout) +
                      ") must not exceed MaxPayout (" + platform::FormatText("%g", p->maxPayout) +
                      ")");
    }
    return true;
}

}  // namespace

bool CBotClient::ReadGameParameters(const PropertyFile& config) {
    GameParameters& p = m_game.params;
    auto failed = [](const char* key) { return Refuse(std::string("cannot read ") + key); };
    if (Failed(config.GetInt("NRounds", &p.nRounds))) return failed("NRounds");
    // A value without a number would read as 0 rounds: a game that never
    // begins.
    if (!ReadsAsNumber(config, "NRounds")) return Refuse("NRounds is not a whole number");
    if (Failed(config.GetInt("ConversationInterval", &p.conversationInterval))) {
        return failed("ConversationInterval");
    }
    if (Failed(config.GetDouble("MarketBase", &p.marketBase))) return failed("MarketBase");
    if (Failed(config.GetDouble("MarketNoiseScale", &p.marketNoiseScale))) {
        return failed("MarketNoiseScale");
    }
    p.marketNoise.clear();
    if (Failed(ReadNumberList(config, "MarketNoise", &p.marketNoise))) {
        return failed("MarketNoise");
    }
    p.bonusMarketRGR.clear();
    if (Failed(ReadNumberList(config, "BonusMarketRGR", &p.bonusMarketRGR))) {
        return failed("BonusMarketRGR");
    }
    p.bonusMarketGW.clear();
    if (Failed(ReadNumberList(config, "BonusMarketGW", &p.bonusMarketGW))) {
        return failed("BonusMarketGW");
    }
    int32_t maxChatTime = 0;
    int32_t maxChatIdle = 0;
    if (Failed(config.GetInt("MaxChatTime", &maxChatTime))) return failed("MaxChatTime");
    if (Failed(config.GetInt("MaxChatIdle", &maxChatIdle))) return failed("MaxChatIdle");
    p.maxChatTime = maxChatTime;
    p.maxChatIdle = maxChatIdle;
    return CheckGameParameters(p) && ReadPayRule(config, &p);
}

bool CBotClient::PrepareRoundStorage(int32_t nRounds) {
    if (nRounds < 0) return false;
    for (SubjectRecord* team : {&m_game.teamA, &m_game.teamB}) {
        team->investments.assign(nRounds, 0);
        team->expectations.assign(nRounds, 0);
        team->roundEarnings.assign(nRounds, 0.0);
    }
    return true;
}
