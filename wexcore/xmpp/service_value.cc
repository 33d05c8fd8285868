// The "xmpp:" service value: DOMAIN[@HOST[:PORT]][;tls=required|off][;trust=system|any]

#include <cctype>
#include <string>
#include <vector>

#include "wexcore/xmpp/xmpp_service.h"

namespace wexcore {
namespace {

constexpr char kForm[] = "xmpp:DOMAIN[@HOST[:PORT]][;tls=required|off][;trust=system|any]";

bool Fail(std::string* reason, const std::string& why) {
    *reason = "Service xmpp: " + why + " (expected " + kForm + ")";
    return false;
}

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    size_t begin = s.find_first_not_of(blanks);
    if (begin == std::string::npos) return "";
    size_t end = s.find_last_not_of(blanks);
    return s.substr(begin, end - begin + 1);
}

std::vector<std::string> Split(const std::string& s, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t next = s.find(separator, start);
        parts.push_back(s.substr(start, next - start));
        if (next == std::string::npos) return parts;
        start = next + 1;
    }
}

// A DNS name: dot-separated labels of letters, digits, '-' and '_';
// bytes above 127 are let through for internationalised names.
bool IsDnsName(const std::string& name) {
    if (name.empty() || name.size() > 253) return false;
    for (const std::string& label : Split(name, '.')) {
        if (label.empty() || label.size() > 63) return false;
        for (unsigned char c : label) {
            if (c < 0x80 && !std::isalnum(c) && c != '-' && c != '_') return false;
        }
    }
    return true;
}

bool IsIpv6Literal(const std::string& host) {
    if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
        unsigned char c = host[i];
        if (!std::isxdigit(c) && c != ':' && c != '.') return false;
    }
    return true;
}

bool ParsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (unsigned char c : text) {
        if (!std::isdigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *port = value;
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// HOST[:PORT], with an IPv6 address in brackets.
bool ParseHostPort(const std::string& text, XmppConfig* config, std::string* reason) {
    std::string host = text;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos && text.find(']', colon) == std::string::npos) {
        host = text.substr(0, colon);
        std::string port = text.substr(colon + 1);
        if (!ParsePort(port, &config->port)) {
            return Fail(reason, "the port must be a number from 1 to 65535, not \"" + port + "\"");
        }
    }
    if (!IsDnsName(host) && !IsIpv6Literal(host)) {
        return Fail(reason, "\"" + host + "\" is not a host name or address");
    }
    // libstrophe takes IPv6 addresses without brackets.
    config->host = IsIpv6Literal(host) ? host.substr(1, host.size() - 2) : Lower(host);
    config->hostGiven = true;
    return true;
}

// Reads `key=value` for an option with two choices; the first choice maps to
// false, the second to true. *seen catches an option given twice.
bool ParseChoice(const std::string& key, const std::string& value, const char* first,
                 const char* second, bool* seen, bool* isSecond, std::string* reason) {
    if (*seen) return Fail(reason, key + " is given twice");
    *seen = true;
    if (value != first && value != second) {
        return Fail(reason,
                    key + " must be " + first + " or " + second + ", not \"" + value + "\"");
    }
    *isSecond = value == second;
    return true;
}

bool ParseOption(const std::string& option, XmppConfig* config, bool* tlsSeen, bool* trustSeen,
                 std::string* reason) {
    size_t eq = option.find('=');
    std::string key = Lower(option.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : Lower(option.substr(eq + 1));
    bool second = false;
    if (key == "tls") {
        if (!ParseChoice(key, value, "required", "off", tlsSeen, &second, reason)) return false;
        config->tls = second ? XmppConfig::Tls::kOff : XmppConfig::Tls::kRequired;
        return true;
    }
    if (key == "trust") {
        if (!ParseChoice(key, value, "system", "any", trustSeen, &second, reason)) return false;
        config->trust = second ? XmppConfig::Trust::kAny : XmppConfig::Trust::kSystem;
        return true;
    }
    return Fail(reason, "unknown option \"" + option + "\"");
}

}  // namespace

bool ParseXmppService(const std::string& value, XmppConfig* config, std::string* reason) {
    XmppConfig parsed;
    std::vector<std::string> parts = Split(Trim(value), ';');
    const std::string& address = parts[0];
    size_t at = address.find('@');
    std::string domain = address.substr(0, at);
    if (domain.empty()) return Fail(reason, "the domain is missing");
    if (!IsDnsName(domain)) return Fail(reason, "\"" + domain + "\" is not a domain name");
    parsed.domain = Lower(domain);
    if (at != std::string::npos && !ParseHostPort(address.substr(at + 1), &parsed, reason)) {
        return false;
    }
    bool tlsSeen = false, trustSeen = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!ParseOption(parts[i], &parsed, &tlsSeen, &trustSeen, reason)) return false;
    }
    if (parsed.tls == XmppConfig::Tls::kOff && parsed.trust == XmppConfig::Trust::kAny) {
        return Fail(reason, "trust=any needs tls=required");
    }
    *config = parsed;
    return true;
}

}  // namespace wexcore
