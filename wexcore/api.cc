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

HRESULT PrepareSim(const std::string& path, std::string* reason) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *reason = "cannot read the scenario file " + path;
        return E_INVALIDARG;
    }
    std::stringstream text;
    text << file.rdbuf();
    sim::Scenario scenario;
    if (!sim::ParseScenario(text.str(), path, &scenario, reason)) return E_INVALIDARG;
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
    size_t colon = description.find(':');
    std::string scheme = description.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : description.substr(colon + 1);
    if (scheme == "sim" && colon != std::string::npos) {
        if (value.empty()) {
            *reason = "Service sim: needs the path of a scenario file (sim:PATH)";
            return E_INVALIDARG;
        }
        return PrepareSim(value, reason);
    }
    if (scheme == "xmpp" && colon != std::string::npos) return PrepareXmpp(value, reason);
    *reason = "Service '" + description + "' is not known (use sim:PATH or xmpp:DOMAIN)";
    return E_INVALIDARG;
}
