// Routing of incoming instant messages.
#include "bot/bot_client.h"

void CBotClient::OnImReceived(IWexSession*, IWexImSession*, IWexParticipant*, IWexIm*) {}
