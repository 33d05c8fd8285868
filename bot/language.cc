// Language: the catalogue the bot's texts to subjects and moderator come
// from, loaded once at start-up before any thread but the main one runs.
#include "bot/bot_client.h"
#include "messaging/config_values.h"
#include "platform/console.h"

bool CBotClient::ReadLanguage(const PropertyFile& config) {
    const ConfigKey& key = ConfigKeyNamed("Language");
    std::string language = ValueOrDefault(config, key);
    std::string fault = ValueFault(key, language);
    if (!fault.empty() || !LoadLanguage(language, CatalogueDir(), &m_texts, &fault)) {
        platform::PrintErrorLine("wexbot: " + fault);
        return false;
    }
    return true;
}
