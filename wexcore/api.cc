#include "wexcore/api.h"

#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/clock.h"
#include "platform/sim_time.h"
#include "wexcore/service.h"
#include "wexcore/session.h"
#include "wexcore/sim/scenario.h"
#include "wexcore/sim/sim_service.h"
#include "wexcore/xmpp/xmpp_service.h"

namespace wexcore {

namespace {

std::mutex g_preparedMu;
std::string g_preparedDescription;
std::unique_ptr<Service> g_preparedService;

bool ReadScenario(const std::string& path, sim::Scenario* scenario, std::string* reason) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *reason = "cannot read the scenario file " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return sim::ParseScenario(text.str(), path, scenario, reason);
}

HRESULT PrepareSim(const std::string& path, std::string* reason) {
    sim::Scenario scenario;
    if (!ReadScenario(path, &scenario, reason)) return E_INVALIDARG;
    auto log = std::make_unique<sim::WireLog>();
    if (!scenario.wireLogPath.empty() && !log->Open(scenario.wireLogPath)) {
        *reason = "cannot create the wire log " + scenario.wireLogPath;
        return E_INVALIDARG;
    }
    int64_t startMs = scenario.startSeconds ? *scenario.startSeconds * 1000 : platform::NowMs();
    if (!platform::sim::Active()) platform::sim::Start(startMs);
    g_preparedService =
        std::make_unique<sim::SimService>(std::move(scenario), startMs, std::move(log));
    return S_OK;
}

HRESULT PrepareXmpp(const std::string& value, std::string* reason) {
    XmppConfig config;
    if (!ParseXmppService(value, &config, reason)) return E_INVALIDARG;
    g_preparedService = CreateXmppService(config);
    return g_preparedService ? S_OK : E_FAIL;
}

enum class Scheme { kNone, kSim, kXmpp };

// The description's scheme and, in *value, what follows "scheme:". kNone,
// with *reason set, when it names no service or a simulated one without
// its scenario.
Scheme SchemeOf(const std::string& description, std::string* value, std::string* reason) {
    size_t colon = description.find(':');
    std::string scheme = description.substr(0, colon);
    *value = colon == std::string::npos ? std::string() : description.substr(colon + 1);
    if (scheme == "sim" && colon != std::string::npos) {
        if (!value->empty()) return Scheme::kSim;
        *reason = "Service sim: needs the path of a scenario file (sim:PATH)";
        return Scheme::kNone;
    }
    if (scheme == "xmpp" && colon != std::string::npos) return Scheme::kXmpp;
    *reason = "Service '" + description + "' is not known (use sim:PATH or xmpp:DOMAIN)";
    return Scheme::kNone;
}

}  // namespace

std::unique_ptr<Service> TakePreparedService(const std::string& description) {
    std::lock_guard<std::mutex> lk(g_preparedMu);
    if (description != g_preparedDescription) return nullptr;
    return std::move(g_preparedService);
}

}  // namespace wexcore

HRESULT CreateComponentObject(WexClsid clsid, IWexSession** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_WexSession) return E_NOINTERFACE;
    *out = new wexcore::SessionObject();
    (*out)->AddRef();
    return S_OK;
}

HRESULT RunEventLoop() {
    wexcore::SessionObject* session = wexcore::SessionObject::Active();
    if (session == nullptr) return WEX_E_NOT_LOGGED_ON;
    return session->RunEventLoop();
}

void EndEventLoop(HRESULT code) {
    wexcore::SessionObject* session = wexcore::SessionObject::Active();
    if (session != nullptr) session->EndEventLoop(code);
}

HRESULT PrepareService(const std::string& description, std::string* reason) {
    using namespace wexcore;
    std::lock_guard<std::mutex> lk(g_preparedMu);
    g_preparedService.reset();
    g_preparedDescription = description;
    std::string value;
    switch (SchemeOf(description, &value, reason)) {
        case Scheme::kSim:
            return PrepareSim(value, reason);
        case Scheme::kXmpp:
            return PrepareXmpp(value, reason);
        case Scheme::kNone:
            break;
    }
    return E_INVALIDARG;
}

bool CheckService(const std::string& description, std::string* reason) {
    using namespace wexcore;
    std::string value;
    switch (SchemeOf(description, &value, reason)) {
        case Scheme::kSim: {
            sim::Scenario scenario;
            return ReadScenario(value, &scenario, reason);
        }
        case Scheme::kXmpp: {
            XmppConfig config;
            return ParseXmppService(value, &config, reason);
        }
        case Scheme::kNone:
            break;
    }
    return false;
}
