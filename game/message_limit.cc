// The cap on a received message's size (MaxMessageBytes): a longer message
// is answered with a request for a shorter one and recorded cut short, so
// that no body, however long, is handled, relayed or kept whole.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/config_values.h"
#include "messaging/username_slots.h"
#include "platform/console.h"
#include "platform/format_text.h"

namespace {

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
    const ConfigKey& key = ConfigKeyNamed("MaxMessageBytes");
    int32_t limit = 0;
    std::string fault = ReadCount(key, ValueOrDefault(config, key), &limit);
    if (!fault.empty()) {
        platform::PrintErrorLine("wexbot: " + fault);
        return false;
    }
    m_maxMessageBytes = static_cast<size_t>(limit);
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
    Reply(platform::FormatText(Tr("Your message was too long (%zu bytes; at most %zu). Please "
                                  "send a shorter one."),
                               bytes, m_maxMessageBytes),
          piSession, piImSession);
    return true;
}
