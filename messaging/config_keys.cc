#include "messaging/config_keys.h"

#include <cstdio>
#include <cstdlib>

namespace {

using K = ValueKind;

std::vector<ConfigKey> MakeTable() {
    return {
        {.name = "Service",
         .kind = K::kService,
         .required = true,
         .meaning = "the messaging service: sim:SCENARIO (simulated) or "
                    "xmpp:DOMAIN[@HOST[:PORT]][;tls=required|off][;trust=system|any]"},
        {.name = "BotUsername",
         .kind = K::kScreenName,
         .required = true,
         .meaning = "the bot's screen name"},
        {.name = "Subject1Name",
         .kind = K::kScreenName,
         .required = true,
         .meaning = "subject 1's screen name"},
        {.name = "Subject2Name",
         .kind = K::kScreenName,
         .required = true,
         .meaning = "subject 2's screen name"},
        {.name = "ModeratorName",
         .kind = K::kScreenName,
         .required = true,
         .meaning = "the moderator's screen name"},
        {.name = "DeskName",
         .kind = K::kScreenName,
         .meaning = "a second moderator account (wexlab's desk): its messages are the "
                    "moderator's commands and the replies go back to it; absent: none"},
        {.name = "PasswordFile",
         .kind = K::kPath,
         .required = true,
         .meaning = "a file of lines holding the bot's password and client key"},
        {.name = "BotPasswordIndex",
         .kind = K::kInteger,
         .min = 0,
         .defaultValue = "0",
         .meaning = "the 0-based line of the password file that holds the bot's password"},
        {.name = "KeyIndex",
         .kind = K::kInteger,
         .min = 0,
         .defaultValue = "0",
         .meaning = "the 0-based line of the password file that holds the bot's client key"},
        {.name = "LogFile",
         .kind = K::kPath,
         .required = true,
         .meaning = "base name of the transcript, LogFile_YYYYMMDD_HHMMSS.log; the data "
                    "files and the journal lie beside it"},
        {.name = "Resume",
         .kind = K::kPath,
         .meaning = "the journal of an interrupted game, to continue that game; "
                    "absent: a new game"},
        {.name = "NRounds",
         .kind = K::kInteger,
         .min = 0,
         // The per-round storage is made before sign-on: a mistyped count
         // must not reach it.
         .max = 100000,
         .required = true,
         .treatment = true,
         .meaning = "the number of rounds"},
        {.name = "ConversationInterval",
         .kind = K::kInteger,
         .min = 1,
         .required = true,
         .treatment = true,
         .meaning = "a bonus (and, before the last round, a chat break) every this many "
                    "rounds"},
        {.name = "MarketBase",
         .kind = K::kNumber,
         .required = true,
         .treatment = true,
         .meaning = "the market divisor is MarketNoiseScale * noise - MarketNoiseScale/2 + "
                    "MarketBase"},
        {.name = "MarketNoiseScale",
         .kind = K::kNumber,
         .required = true,
         .treatment = true,
         .meaning = "the scale of the noise in the market divisor"},
        {.name = "MarketNoise",
         .kind = K::kNumberList,
         .required = true,
         .treatment = true,
         .meaning = "the noise of each round, taken in turn; none may make the market "
                    "divisor 0"},
        {.name = "BonusMarketRGR",
         .kind = K::kNumberList,
         .defaultValue = "0",
         .treatment = true,
         .meaning = "a list held with the parameters; no rule of the game uses it"},
        {.name = "BonusMarketGW",
         .kind = K::kNumberList,
         .defaultValue = "0",
         .treatment = true,
         .meaning = "a list held with the parameters; no rule of the game uses it"},
        {.name = "MaxChatTime",
         .kind = K::kInteger,
         .required = true,
         .treatment = true,
         .meaning = "seconds a chat break may last"},
        {.name = "MaxChatIdle",
         .kind = K::kInteger,
         .required = true,
         .treatment = true,
         .meaning = "seconds of idle chat in a break before a reminder"},
        {.name = "CreditValue",
         .kind = K::kAmount,
         .min = 0,
         .defaultValue = "0.0075",
         .treatment = true,
         .meaning = "dollars a credit is worth in the payout"},
        {.name = "MinPayout",
         .kind = K::kAmount,
         .min = 0,
         .defaultValue = "10",
         .treatment = true,
         .meaning = "the least payout in dollars; not above MaxPayout"},
        {.name = "MaxPayout",
         .kind = K::kAmount,
         .min = 0,
         .defaultValue = "25",
         .treatment = true,
         .meaning = "the greatest payout in dollars"},
        {.name = "AnswerTimeout",
         .kind = K::kSeconds,
         .min = 0,
         // A day: longer than any session, and far from overflowing.
         .max = 86400,
         .defaultValue = "0",
         .treatment = true,
         .meaning = "seconds a subject may owe an answer before one is taken for it; 0: off"},
        {.name = "TimeoutAnswer",
         .kind = K::kAnswer,
         .min = 0,
         .max = 60,
         .choices = {"last"},
         .defaultValue = "last",
         .treatment = true,
         .meaning = "the answer taken at the timeout: last (the subject's own of that kind "
                    "in the round before) or a number"},
        {.name = "TimeoutExtend",
         .kind = K::kSeconds,
         .min = 0,
         .max = 600,
         .defaultValue = "0",
         .treatment = true,
         .meaning = "seconds a subject may add once to an answer deadline by writing "
                    "'more time'; 0: off"},
        {.name = "DropoutAfter",
         .kind = K::kSeconds,
         .min = 0,
         .max = 86400,
         .defaultValue = "0",
         .treatment = true,
         .meaning = "seconds a joined subject may be offline while the game runs (breaks "
                    "included) before it counts as a dropout; 0: never"},
        {.name = "Dropout",
         .kind = K::kChoice,
         .choices = {"robot", "pay"},
         .defaultValue = "robot",
         .treatment = true,
         .meaning = "what a dropout brings: robot (a stand-in gives the dropout's remaining "
                    "answers; its payout stays the one at the dropout) or pay (the pair is "
                    "paid at once, as by the moderator's p)"},
        {.name = "StandIn",
         .kind = K::kAnswer,
         .min = 0,
         .max = 60,
         .choices = {"last"},
         .defaultValue = "last",
         .treatment = true,
         .meaning = "the stand-in's answer: last (the dropout's own last answer of that kind; "
                    "30, the middle of the range, when it has none yet) or a number"},
        {.name = "FloodLimit",
         .kind = K::kSignedWhole,
         .min = 0,
         .max = 100000,
         .defaultValue = "10",
         .treatment = true,
         .meaning = "messages a sender may write in FloodSeconds before the rest are folded; "
                    "0: no limit"},
        {.name = "FloodSeconds",
         .kind = K::kSignedWhole,
         .min = 1,
         .max = 3600,
         .defaultValue = "10",
         .treatment = true,
         .meaning = "the window of FloodLimit, in seconds"},
        {.name = "PresenceSettle",
         .kind = K::kSeconds,
         .min = 0,
         .max = 60,
         .defaultValue = "3",
         .meaning = "seconds a subject's presence is watched before the moderator is told of it: "
                    "a change reversed within is not told, a burst is told once with its count; "
                    "0: every change at once"},
        {.name = "MaxMessageBytes",
         .kind = K::kCount,
         // Room for any answer and a few lines of chat; above a megabyte
         // the cap no longer bounds the bot's memory in any useful way.
         .min = 64,
         .max = 1048576,
         .defaultValue = "4096",
         .treatment = true,
         .meaning = "the longest message (UTF-8 bytes) a subject may send; a longer one is "
                    "refused and recorded cut short"},
        {.name = "Language",
         .kind = K::kLanguage,
         .defaultValue = "en",
         .meaning = "the language of the bot's texts to subjects and moderator: en, or a code "
                    "with a catalogue CODE.po in the wexbot folder of $WEX_PO_DIR or the "
                    "installed share/wex/po"},
    };
}

}  // namespace

const std::vector<ConfigKey>& ConfigKeys() {
    static const std::vector<ConfigKey> table = MakeTable();
    return table;
}

const ConfigKey* FindConfigKey(const std::string& name) {
    for (const ConfigKey& key : ConfigKeys()) {
        if (key.name == name) return &key;
    }
    return nullptr;
}

const ConfigKey& ConfigKeyNamed(const std::string& name) {
    const ConfigKey* key = FindConfigKey(name);
    if (key == nullptr) {
        std::fprintf(stderr, "wexbot: the key table has no key %s\n", name.c_str());
        std::abort();
    }
    return *key;
}

const char* TypeName(ValueKind kind) {
    switch (kind) {
        case K::kService:
            return "service";
        case K::kScreenName:
            return "screen name";
        case K::kPath:
            return "path";
        case K::kInteger:
        case K::kSignedWhole:
        case K::kCount:
        case K::kSeconds:
            return "integer";
        case K::kAnswer:
            return "integer or choice";
        case K::kChoice:
            return "choice";
        case K::kNumber:
        case K::kAmount:
            return "number";
        case K::kNumberList:
            return "number list";
        case K::kLanguage:
            return "language";
    }
    return "text";
}
