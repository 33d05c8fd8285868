#include "wexcore/sim/sim_service.h"

#include <algorithm>
#include <csignal>
#include <cstdint>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "wexcore/events.h"

namespace wexcore::sim {

namespace {

// Counts from the scenario add up without overflowing: past INT32_MAX they
// mean "every time" anyway.
void SaturatingAdd(int32_t* total, int32_t more) {
    *total = more > INT32_MAX - *total ? INT32_MAX : *total + more;
}

}  // namespace

using Op = Directive::Op;

SimService::SimService(Scenario scenario, int64_t startMs, std::unique_ptr<WireLog> log)
    : m_scenario(std::move(scenario)), m_startMs(startMs), m_log(std::move(log)) {
    m_nextForBot = NextBotDirective(0);
}

double SimService::Seconds() const {
    return static_cast<double>(platform::NowMs() - m_startMs) / 1000.0;
}

HRESULT SimService::SignOn(const SignOnInfo& info) {
    Log(WireLine(Seconds(), "signon").Text("name", info.name).Text("client", info.clientInfo));
    if (m_scenario.signOnFailure) return *m_scenario.signOnFailure;
    m_signedOnName = info.name;
    m_inbox.SetPolicy(info.inbox);
    m_pendingStates.push_back({WEX_STATE_CONNECTING, S_OK});
    if (m_scenario.password && *m_scenario.password != info.password) {
        m_pendingStates.push_back({WEX_STATE_OFFLINE, WEX_E_INVALID_PASSWORD});
    } else {
        m_pendingStates.push_back({WEX_STATE_ONLINE, S_OK});
    }
    return S_OK;
}

std::string SimService::SignedOnName() {
    return m_signedOnName;
}

void SimService::ApplyDueServiceDirectives() {
    int64_t elapsed = platform::NowMs() - m_startMs;
    auto& timed = m_scenario.timed;
    for (; m_nextServiceSide < timed.size(); ++m_nextServiceSide) {
        const Directive& d = timed[m_nextServiceSide];
        if (d.atMs > elapsed) break;
        if (d.op == Op::kOpenFail) {
            SaturatingAdd(&m_openFailures[d.name], d.count);
        } else if ((d.op == Op::kRateLimit || d.op == Op::kFail) && d.count > 0) {
            // One entry with its count, however large the count.
            std::deque<ForcedAnswer>& forced = m_forcedAnswers[d.name];
            if (!forced.empty() && forced.back().code == d.code) {
                SaturatingAdd(&forced.back().count, d.count);
            } else {
                forced.push_back({d.code, d.count});
            }
        }
    }
}

HRESULT SimService::OpenImSession(const std::string& peer, uint32_t* imSession) {
    ApplyDueServiceDirectives();
    HRESULT code = m_online ? S_OK : WEX_E_NOT_LOGGED_ON;
    int32_t& failures = m_openFailures[peer];
    if (Succeeded(code) && failures > 0) {
        --failures;
        code = WEX_E_CANNOT_INITIATE_SESSION;
    }
    uint32_t id = Succeeded(code) ? m_nextSession++ : 0;
    Log(WireLine(Seconds(), "open").Text("to", peer).Int("session", id).Code("code", code));
    if (Failed(code)) return code;
    m_sessionOpen[id] = true;
    *imSession = id;
    return S_OK;
}

HRESULT SimService::SendIm(uint32_t imSession, const std::string& peer, const std::string& text,
                           const ImExtras& extras) {
    // Without "record game" the wire shows the described messages alone:
    // nothing of a message that has no text, and no element.
    bool record = m_scenario.recordElements;
    if (extras.bodyless && !record) return m_online ? S_OK : WEX_E_NOT_LOGGED_ON;
    ApplyDueServiceDirectives();
    HRESULT code = S_OK;
    std::deque<ForcedAnswer>& forced = m_forcedAnswers[peer];
    if (!m_online) {
        code = WEX_E_NOT_LOGGED_ON;
    } else if (extras.bodyless) {
        // Sent outside any IM session; the scenario's forced answers are
        // for the texts.
    } else if (!m_sessionOpen[imSession]) {
        code = WEX_E_SESSION_CLOSED;
    } else if (!forced.empty()) {
        code = forced.front().code;
        if (--forced.front().count == 0) forced.pop_front();
    }
    WireLine line(Seconds(), "send");
    line.Text("to", peer).Int("session", imSession).Code("code", code);
    if (!extras.bodyless) line.Text("text", text);
    if (record && !extras.element.Empty()) line.Text("game", ElementXml(extras.element));
    Log(line);
    return code;
}

void SimService::SetFarewell(const std::string& peer, const ExtraElement& element) {
    std::lock_guard<std::mutex> lock(m_farewellMu);
    if (element.Empty()) {
        m_farewells.erase(peer);
    } else {
        m_farewells[peer] = element;
    }
}

// Each farewell goes once, in the peers' order, while the session is still
// online, outside any IM session (session 0).
void SimService::SendFarewells() {
    std::map<std::string, ExtraElement> farewells;
    {
        std::lock_guard<std::mutex> lock(m_farewellMu);
        farewells.swap(m_farewells);
    }
    if (!m_scenario.recordElements) return;
    for (const auto& [peer, element] : farewells) {
        Log(WireLine(Seconds(), "send")
                .Text("to", peer)
                .Int("session", 0)
                .Code("code", S_OK)
                .Text("game", ElementXml(element)));
    }
}

HRESULT SimService::EndImSession(uint32_t imSession) {
    Log(WireLine(Seconds(), "end_session").Int("session", imSession));
    m_sessionOpen[imSession] = false;
    for (auto it = m_incomingSession.begin(); it != m_incomingSession.end(); ++it) {
        if (it->second == imSession) {
            m_incomingSession.erase(it);
            break;
        }
    }
    return S_OK;
}

void SimService::DeclineSecurId() {
    Log(WireLine(Seconds(), "securid").Text("answer", "decline"));
}

void SimService::RequestAnswered(const std::shared_ptr<RequestRecord>&) {
    // Logged with the request once the handler has returned.
}

size_t SimService::NextBotDirective(size_t from) const {
    while (from < m_scenario.timed.size() && m_scenario.timed[from].IsServiceSide()) ++from;
    return from;
}

void SimService::DeliverState(const StateEvent& e, ServiceSink& sink) {
    Log(WireLine(Seconds(), "state").Int("state", e.state).Code("code", e.code));
    if (e.state == WEX_STATE_OFFLINE) m_lastOfflineCode = e.code;
    m_online = e.state == WEX_STATE_ONLINE || e.state == WEX_STATE_ONLINE_IDLE;
    sink.OnState(e.state, e.code);
}

void SimService::DeliverIm(const InboxMessage& m, ServiceSink& sink) {
    auto found = m_incomingSession.find(m.peer);
    uint32_t id;
    if (found != m_incomingSession.end()) {
        id = found->second;
    } else {
        id = m_nextSession++;
        m_incomingSession[m.peer] = id;
        m_sessionOpen[id] = true;
    }
    WireLine line(Seconds(), "im");
    line.Text("from", m.peer).Int("session", id).Text("text", m.text);
    if (m.skipped > 0) line.Int("skipped", m.skipped);
    Log(line);
    sink.OnIm(m.peer, id, m.text, m.skipped);
}

void SimService::DeliverRequest(const Directive& d, ServiceSink& sink) {
    auto record = std::make_shared<RequestRecord>();
    record->hasKind = d.kind.has_value();
    record->kind = d.kind.value_or(0);
    record->hasProp = d.prop.has_value();
    record->prop = d.prop.value_or(0);
    record->state = d.state;
    sink.OnRequest(record);
    WireLine line(Seconds(), "request");
    if (d.kind) {
        line.Int("kind", *d.kind);
    } else {
        line.Text("kind", "none");
    }
    if (d.prop) {
        line.Int("prop", *d.prop);
    } else {
        line.Text("prop", "none");
    }
    line.Int("state", d.state);
    switch (record->answer) {
        case RequestRecord::Answer::kAccept:
            line.Text("answer", "accept");
            break;
        case RequestRecord::Answer::kReject:
            line.Text("answer", "reject").Code("code", record->rejectCode);
            break;
        case RequestRecord::Answer::kNone:
            line.Text("answer", "none");
            break;
    }
    Log(line);
}

void SimService::Deliver(const Directive& d, ServiceSink& sink) {
    switch (d.op) {
        case Op::kRequest:
            DeliverRequest(d, sink);
            break;
        case Op::kState:
            DeliverState({d.state, d.code}, sink);
            break;
        case Op::kEnd:
            DeliverState({WEX_STATE_OFFLINE, d.code}, sink);
            break;
        case Op::kPresence: {
            static const char* const kStates[] = {"off", "on", "again"};
            Log(WireLine(Seconds(), "presence")
                    .Text("name", d.name)
                    .Text("state", kStates[d.state]));
            sink.OnPresence(d.name, d.state != 0, d.state == 2);
            break;
        }
        case Op::kCrash:
            // The process ends at once, as if killed: no handler, destructor
            // or buffer gets another word out.
            Log(WireLine(Seconds(), "crash"));
            std::raise(SIGKILL);
            break;
        case Op::kSignal:
            // Raised in the bot's own process, as a Ctrl+C or a kill would.
            Log(WireLine(Seconds(), "signal").Text("name", d.name));
            std::raise(d.name == "INT" ? SIGINT : SIGTERM);
            break;
        case Op::kDrop:
            // The component reconnects at once: 50, then 100 and 500.
            m_pendingStates.push_back({WEX_STATE_DISCONNECTED, S_OK});
            m_pendingStates.push_back({WEX_STATE_CONNECTING, S_OK});
            m_pendingStates.push_back({WEX_STATE_ONLINE, S_OK});
            break;
        default:
            break;
    }
}

HRESULT SimService::RunEventLoop(ServiceSink& sink) {
    m_loopEnded = false;
    auto& timed = m_scenario.timed;
    while (!m_loopEnded) {
        if (platform::StopRequested() && !m_stopped) {
            StopInOrder(sink);
            continue;
        }
        ApplyDueServiceDirectives();
        if (!m_pendingStates.empty()) {
            StateEvent e = m_pendingStates.front();
            m_pendingStates.pop_front();
            DeliverState(e, sink);
            continue;
        }
        int64_t elapsed = platform::NowMs() - m_startMs;
        TakeArrivedMessages(elapsed);
        // A signal or a kill does not wait for the messages in the inbox.
        if (m_nextForBot < timed.size() && timed[m_nextForBot].atMs <= elapsed &&
            (timed[m_nextForBot].op == Op::kSignal || timed[m_nextForBot].op == Op::kCrash)) {
            const Directive& d = timed[m_nextForBot];
            m_nextForBot = NextBotDirective(m_nextForBot + 1);
            Deliver(d, sink);
            continue;
        }
        if (std::optional<InboxMessage> m = m_inbox.Next(elapsed)) {
            DeliverIm(*m, sink);
            continue;
        }
        // Sleep until the next directive or held message falls due.
        std::optional<int64_t> due = m_inbox.NextDueMs();
        if (m_nextForBot < timed.size()) {
            const Directive& d = timed[m_nextForBot];
            if (d.atMs <= elapsed) {
                m_nextForBot = NextBotDirective(m_nextForBot + 1);
                Deliver(d, sink);
                continue;
            }
            due = due ? std::min(*due, d.atMs) : d.atMs;
        }
        // Nothing more will ever come: the service has gone offline.
        if (!due) return m_lastOfflineCode;
        platform::SleepMs(*due - elapsed);
    }
    return m_loopCode;
}

// Every message that has arrived by now, up to the next other directive,
// waits in the inbox, so the moderator's can go before the others.
void SimService::TakeArrivedMessages(int64_t elapsedMs) {
    auto& timed = m_scenario.timed;
    while (m_nextForBot < timed.size() && timed[m_nextForBot].op == Op::kIm &&
           timed[m_nextForBot].atMs <= elapsedMs) {
        const Directive& d = timed[m_nextForBot];
        m_inbox.Arrive(d.name, d.text, d.atMs, m_nextForBot);
        m_nextForBot = NextBotDirective(m_nextForBot + 1);
    }
}

// A stop asked for by a signal: no message is delivered after it, the
// session signs off and goes offline with S_OK.
void SimService::StopInOrder(ServiceSink& sink) {
    m_stopped = true;
    m_pendingStates.clear();
    size_t unread = m_inbox.Clear();
    if (unread > 0) {
        platform::Print("stopping: " + std::to_string(unread) +
                        " received messages are left unanswered\n");
    }
    m_nextForBot = m_scenario.timed.size();
    if (m_online) SendFarewells();
    Log(WireLine(Seconds(), "signoff"));
    DeliverState({WEX_STATE_OFFLINE, S_OK}, sink);
}

void SimService::EndEventLoop(HRESULT code) {
    m_loopEnded = true;
    m_loopCode = code;
}

}  // namespace wexcore::sim
