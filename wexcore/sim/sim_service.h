// The simulated messaging service: plays a scenario in simulated time and
// records every exchange in the wire log.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wexcore/inbox.h"
#include "wexcore/service.h"
#include "wexcore/sim/scenario.h"
#include "wexcore/sim/wire_log.h"

namespace wexcore::sim {

class SimService : public Service {
public:
    // startMs: the simulated clock's start; the wire log is opened already.
    SimService(Scenario scenario, int64_t startMs, std::unique_ptr<WireLog> log);

    HRESULT SignOn(const SignOnInfo& info) override;
    std::string SignedOnName() override;
    HRESULT OpenImSession(const std::string& peer, uint32_t* imSession) override;
    HRESULT SendIm(uint32_t imSession, const std::string& peer, const std::string& text,
                   const ImExtras& extras) override;
    void SetFarewell(const std::string& peer, const ExtraElement& element) override;
    HRESULT EndImSession(uint32_t imSession) override;
    void DeclineSecurId() override;
    void RequestAnswered(const std::shared_ptr<RequestRecord>& request) override;
    HRESULT RunEventLoop(ServiceSink& sink) override;
    void EndEventLoop(HRESULT code) override;

private:
    struct StateEvent {
        int32_t state;
        HRESULT code;
    };
    // The answer for the next count sends to a peer.
    struct ForcedAnswer {
        HRESULT code;
        int32_t count;
    };

    double Seconds() const;
    void Log(const WireLine& line) { m_log->Write(line); }
    // Applies the service-side directives that have fallen due.
    void ApplyDueServiceDirectives();
    // Index of the next directive for the bot, or the end of the list.
    size_t NextBotDirective(size_t from) const;
    void Deliver(const Directive& d, ServiceSink& sink);
    void DeliverState(const StateEvent& e, ServiceSink& sink);
    void TakeArrivedMessages(int64_t elapsedMs);
    void DeliverIm(const InboxMessage& m, ServiceSink& sink);
    void DeliverRequest(const Directive& d, ServiceSink& sink);
    void StopInOrder(ServiceSink& sink);
    void SendFarewells();

    Scenario m_scenario;
    int64_t m_startMs;
    std::unique_ptr<WireLog> m_log;
    std::string m_signedOnName;
    bool m_online = false;
    bool m_loopEnded = false;
    bool m_stopped = false;  // a signal asked the session to stop
    HRESULT m_loopCode = 0;
    HRESULT m_lastOfflineCode = 0;
    size_t m_nextServiceSide = 0;
    size_t m_nextForBot = 0;
    std::deque<StateEvent> m_pendingStates;  // sign-on and drop states not yet delivered
    std::map<std::string, std::deque<ForcedAnswer>> m_forcedAnswers;  // per peer, for sends
    std::map<std::string, int32_t> m_openFailures;                    // per peer
    std::map<std::string, uint32_t> m_incomingSession;                // per peer
    std::map<uint32_t, bool> m_sessionOpen;                           // every IM session
    std::mutex m_farewellMu;                          // the bot's threads set farewells
    std::map<std::string, ExtraElement> m_farewells;  // per peer
    uint32_t m_nextSession = 1;
    Inbox m_inbox;
};

}  // namespace wexcore::sim
