// Text that may travel in an XMPP stream.
#pragma once

#include <string>

namespace wexcore::xmpp {

// Returns text with every invalid UTF-8 sequence, and every character that
// XML 1.0 forbids (control characters other than tab, line feed and carriage
// return; U+FFFE, U+FFFF), replaced by U+FFFD. A server closes the whole
// stream on such a character, so none may reach it.
std::string XmlSafeText(const std::string& text);

}  // namespace wexcore::xmpp
