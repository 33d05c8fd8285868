// The "xmpp:" service value: what is accepted, what it means, and why the
// rest is refused.

#include <gtest/gtest.h>

#include "wexcore/xmpp/xmpp_service.h"

namespace wexcore {
namespace {

XmppConfig Parse(const std::string& value) {
    XmppConfig config;
    std::string reason;
    EXPECT_TRUE(ParseXmppService(value, &config, &reason)) << value << ": " << reason;
    return config;
}

std::string Refusal(const std::string& value) {
    XmppConfig config;
    config.domain = "untouched";
    std::string reason;
    EXPECT_FALSE(ParseXmppService(value, &config, &reason)) << value;
    EXPECT_EQ(config.domain, "untouched") << "a refused value must not change the config";
    EXPECT_EQ(reason.find('\n'), std::string::npos) << "the reason is one line";
    return reason;
}

TEST(XmppServiceValue, DomainAloneUsesDnsAndSafeDefaults) {
    XmppConfig config = Parse("Lab.Example.org");
    EXPECT_EQ(config.domain, "lab.example.org");
    EXPECT_FALSE(config.hostGiven);
    EXPECT_EQ(config.port, 5222);
    EXPECT_EQ(config.tls, XmppConfig::Tls::kRequired);
    EXPECT_EQ(config.trust, XmppConfig::Trust::kSystem);
}

TEST(XmppServiceValue, HostPortAndOptions) {
    XmppConfig config = Parse("lab.test@127.0.0.1:15222;tls=off");
    EXPECT_EQ(config.domain, "lab.test");
    EXPECT_TRUE(config.hostGiven);
    EXPECT_EQ(config.host, "127.0.0.1");
    EXPECT_EQ(config.port, 15222);
    EXPECT_EQ(config.tls, XmppConfig::Tls::kOff);

    config = Parse("lab.test@server.lab;TRUST=Any");
    EXPECT_EQ(config.host, "server.lab");
    EXPECT_EQ(config.port, 5222);
    EXPECT_EQ(config.trust, XmppConfig::Trust::kAny);

    config = Parse("lab.test@[::1]:5223;trust=any;tls=required");
    EXPECT_EQ(config.host, "::1");
    EXPECT_EQ(config.port, 5223);

    // Blanks around the value come from the configuration file, not the user.
    EXPECT_EQ(Parse("lab.test@[fe80::1] \t").host, "fe80::1");
}

TEST(XmppServiceValue, MalformedValuesAreRefusedWithAReason) {
    EXPECT_NE(Refusal("").find("domain is missing"), std::string::npos);
    EXPECT_NE(Refusal("@host").find("domain is missing"), std::string::npos);
    EXPECT_NE(Refusal("lab test").find("\"lab test\" is not a domain name"), std::string::npos);
    EXPECT_NE(Refusal("lab..test").find("not a domain name"), std::string::npos);
    EXPECT_NE(Refusal("lab.test/res").find("not a domain name"), std::string::npos);
    EXPECT_NE(Refusal("lab.test@").find("not a host name"), std::string::npos);
    EXPECT_NE(Refusal("lab.test@::1").find("not a host name"), std::string::npos);
    for (const char* port : {"0", "65536", "-1", "5x", "", "123456"}) {
        EXPECT_NE(Refusal(std::string("lab.test@host:") + port).find("port must be a number"),
                  std::string::npos)
            << port;
    }
    EXPECT_NE(Refusal("lab.test;tls=maybe").find("tls must be required or off"), std::string::npos);
    EXPECT_NE(Refusal("lab.test;trust=all").find("trust must be system or any"), std::string::npos);
    EXPECT_NE(Refusal("lab.test;tls=off;tls=off").find("tls is given twice"), std::string::npos);
    EXPECT_NE(Refusal("lab.test;verify=no").find("unknown option \"verify=no\""),
              std::string::npos);
    EXPECT_NE(Refusal("lab.test;").find("unknown option"), std::string::npos);
    // Trusting any certificate without TLS is a contradiction worth a word.
    EXPECT_NE(Refusal("lab.test;tls=off;trust=any").find("trust=any needs tls=required"),
              std::string::npos);
}

}  // namespace
}  // namespace wexcore
