// The bot object's automation face and its preference store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "bot/bot_client.h"
#include "bot/client_prefs.h"
#include "bot/string_ops.h"
#include "platform/settings_store.h"

namespace {

// A session that only knows its signed-on name.
class FakeSession final : public WexRefCounted<IWexSession> {
public:
    HRESULT QueryInterface(WexIid, void**) override { return E_NOINTERFACE; }
    HRESULT GetClientInfo(IWexClientInfo**) override { return E_NOTIMPL; }
    HRESULT put_PrefsHook(IWexPrefsHook*) override { return E_NOTIMPL; }
    HRESULT SetSignOnName(WEXSTR) override { return E_NOTIMPL; }
    HRESULT SignOn(WEXSTR) override { return E_NOTIMPL; }
    HRESULT DeclineSecurId(WEXSTR) override { return E_NOTIMPL; }
    HRESULT GetSignedOnName(WEXSTR* name) override { return StrFromText("bot", name); }
    HRESULT SetSessionProperty(int32_t, const WexVariant&) override { return E_NOTIMPL; }
    HRESULT OpenImSession(WEXSTR, int32_t, IWexImSession**) override { return E_NOTIMPL; }
    HRESULT MakeIm(int32_t, const char16_t*, IWexIm**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(WexIid, IWexConnectionPoint**) override { return E_NOTIMPL; }
};

class BotEventsTest : public testing::Test {
protected:
    void SetUp() override {
        m_bot = new CBotClient();
        m_bot->AddRef();
    }
    void TearDown() override { m_bot->Release(); }

    std::string InvokeState(int32_t dispId, int32_t state, uint32_t argCount) {
        WexVariant args[3];
        SetVariantInt(&args[1], state);
        SetVariantInt(&args[2], 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(m_bot->Invoke(dispId, args, argCount), S_OK);
        return testing::internal::GetCapturedStdout();
    }

    CBotClient* m_bot = nullptr;
};

TEST_F(BotEventsTest, AnswersForItsThreeInterfacesOnly) {
    for (WexIid iid : {IID_IUnknown, IID_IDispatch, DIID_DWexSessionEvents}) {
        void* p = nullptr;
        ASSERT_EQ(m_bot->QueryInterface(iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<IWexDispatch*>(m_bot));
        m_bot->Release();
    }
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_bot->QueryInterface(IID_IWexSession, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    uint32_t count = 0;
    EXPECT_EQ(m_bot->GetTypeInfoCount(&count), E_NOTIMPL);
}

TEST_F(BotEventsTest, InvokeDispatchesByNumberAndArgumentCount) {
    EXPECT_EQ(InvokeState(100, 50, 3), "wexbot disconnected, reconnecting...\n");
    EXPECT_EQ(InvokeState(100, 50, 2), "");  // too few arguments
    EXPECT_EQ(InvokeState(99, 50, 3), "");   // not an event of the interface
    EXPECT_EQ(InvokeState(101, 50, 3), "");  // an event the bot ignores
    EXPECT_EQ(InvokeState(100, 777, 3), "");
}

// A message whose text can't be read because a handle can't be made.
class FailingIm final : public WexRefCounted<IWexIm> {
public:
    HRESULT QueryInterface(WexIid iid, void** ppv) override {
        return QuerySingle<IWexIm>(this, IID_IWexIm, iid, ppv);
    }
    HRESULT SetImText(WEXSTR) override { return E_NOTIMPL; }
    HRESULT GetImText(const char16_t*, WEXSTR*) override {
        ++reads;
        throw TARN::CWexException(E_OUTOFMEMORY);
    }
    int reads = 0;
};

class NamedParticipant final : public WexRefCounted<IWexParticipant> {
public:
    HRESULT QueryInterface(WexIid iid, void** ppv) override {
        return QuerySingle<IWexParticipant>(this, IID_IWexParticipant, iid, ppv);
    }
    HRESULT GetParticipantName(WEXSTR* name) override { return StrFromText("alice", name); }
};

// A result-code exception in a handler ends the event loop instead of
// leaving the component's dispatch.
TEST_F(BotEventsTest, ExceptionInAHandlerDoesNotEscapeInvoke) {
    WexVariant args[4];
    WexPtr<IWexParticipant> participant(new NamedParticipant());
    auto* failing = new FailingIm();
    WexPtr<IWexIm> im(failing);
    SetVariantUnknown(&args[2], participant.get());
    SetVariantUnknown(&args[3], im.get());
    EXPECT_NO_THROW(EXPECT_EQ(m_bot->Invoke(604, args, 4), S_OK));
    EXPECT_EQ(failing->reads, 1);  // the handler did reach the throwing call
    for (WexVariant& arg : args) ClearVariant(&arg);
}

class ClientPrefsTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("wex-prefs-" + std::to_string(getpid()));
        setenv("WEX_SETTINGS_DIR", m_dir.c_str(), 1);
        ASSERT_EQ(CClientPrefs::Create(new FakeSession(), m_prefs.Out()), S_OK);
        ASSERT_TRUE(m_prefs->InitPrefsMgr());
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::pair<std::string, std::string> PathOf(const std::string& name) {
        std::pair<std::string, std::string> path;
        m_prefs->MakeRegistryPath(MakeBstr(name).get(), &path.first, &path.second);
        return path;
    }

    std::filesystem::path m_dir;
    WexPtr<CClientPrefs> m_prefs;
};

TEST_F(ClientPrefsTest, PathDependsOnConnectionState) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(PathOf("tarn.connect.disableLocalRateLimits"),
              P("Software\\TarnMfcApp\\tarn\\connect", "disableLocalRateLimits"));
    EXPECT_EQ(PathOf("plain"), P("Software\\TarnMfcApp", "plain"));
    for (int32_t state : {500, 600}) {
        m_prefs->SetConnectionState(state);
        EXPECT_EQ(PathOf("tarn.connect.x"),
                  P("Software\\TarnMfcApp\\Users\\bot\\tarn\\connect", "x"));
    }
    m_prefs->SetConnectionState(100);
    EXPECT_EQ(PathOf("plain"), P("Software\\TarnMfcApp", "plain"));
}

TEST_F(ClientPrefsTest, ValuesRoundTripPerState) {
    WexVariant value;
    EXPECT_EQ(m_prefs->GetValue(MakeBstr("never.stored").get(), &value), WEX_E_NO_DATA);
    CWexVariant in;
    SetVariantBool(in.get(), true);
    ASSERT_EQ(m_prefs->SetValue(MakeBstr("tarn.flag").get(), in.value()), S_OK);
    CWexVariant out;
    ASSERT_EQ(m_prefs->GetValue(MakeBstr("tarn.flag").get(), out.get()), S_OK);
    std::string text;
    ToNarrow(text, out.value().bstrVal);
    EXPECT_EQ(text, "-1");
    // Online, the same name is another value: the signed-on user's.
    m_prefs->SetConnectionState(500);
    CWexVariant online;
    EXPECT_EQ(m_prefs->GetValue(MakeBstr("tarn.flag").get(), online.get()), WEX_E_NO_DATA);
    // A value that does not fit the 4096-byte buffer is no data.
    MakeStringVariant(in.get(), std::string(5000, 'x'));
    ASSERT_EQ(m_prefs->SetValue(MakeBstr("big").get(), in.value()), S_OK);
    EXPECT_EQ(m_prefs->GetValue(MakeBstr("big").get(), online.get()), WEX_E_NO_DATA);
    EXPECT_EQ(m_prefs->GetDefaultValue(MakeBstr("big").get(), online.get()), WEX_E_NO_DATA);
}

}  // namespace
