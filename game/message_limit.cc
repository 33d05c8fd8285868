// The cap on a received message's size (MaxMessageBytes): a longer message
// is answered with a request for a shorter one and recorded cut short, so
// that no body, however long, is handled, relayed or kept whole.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/console.h"
#include "platform/format_text.h"

namespace {

constexpr size_t kDefaultMaxMessageBytes = 4096;
// Room for any answer and a few lines of chat; above a megabyte the cap no
// longer bounds the bot's memory in any useful way.
constexpr size_t kLeastMaxMessageBytes = 64;
constexpr size_t kMostMaxMessageBytes = 1048576;

// The whole number that text holds (blanks around it allowed); false when
// it holds anything else.
bool ParseCount(const std::string& text, size_t* value) {
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    if (begin == std::string::npos) return false;
    std::string digits = text.substr(begin, end + 1 - begin);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoul(digits);
    return true;
}

// The length of text's longest start of at most limit bytes that ends on a
// character boundary.
size_t CutAtCharacter(const std::string& text, size_t limit) {
    if (limit >= text.size()) return text.size();
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace

bool CBotClient::ReadMessageLimit(const PropertyFile& config) {
    m_maxMessageBytes = kDefaultMaxMessageBytes;
    CWexBstr value;
    if (config.GetString("MaxMessageBytes", value) != S_OK) return true;
    std::string text;
    size_t limit = 0;
    if (Failed(ToNarrow(text, value)) || !ParseCount(text, &limit) ||
        limit < kLeastMaxMessageBytes || limit > kMostMaxMessageBytes) {
        platform::PrintErrorLine(platform::FormatText(
            "wexbot: MaxMessageBytes must be a whole number from %zu to %zu, found \"%s\"",
            kLeastMaxMessageBytes, kMostMaxMessageBytes, text.c_str()));
        return false;
    }
    m_maxMessageBytes = limit;
    return true;
}

bool CBotClient::RefuseOverlongMsg(IWexSession* piSession, IWexImSession* piImSession) {
    size_t bytes = StrTextSize(m_game.text.get());
    if (bytes <= m_maxMessageBytes) return false;
    std::string text;
    ToNarrow(text, m_game.text);
    text.resize(CutAtCharacter(text, m_maxMessageBytes));
    // The body is dropped here: nothing after this holds it.
    m_game.text.Reset();
    m_transcript.LogRecvTruncated(FindUsernameSlot(m_game.sender), text, bytes, m_game.sender);
    Reply(platform::FormatText(
              "Your message was too long (%zu bytes; at most %zu). Please send a shorter one.",
              bytes, m_maxMessageBytes),
          piSession, piImSession);
    return true;
}
