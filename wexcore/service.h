// What a messaging service does for a session. The session object turns
// these calls and callbacks into the component's objects and events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wexcore/extra_element.h"
#include "wexcore/inbox.h"
#include "wexcore/result_codes.h"

namespace wexcore {

// An incoming request and, once given, the user's answer.
struct RequestRecord {
    enum class Answer { kNone, kAccept, kReject };
    bool hasKind = true;  // false: GetRequestKind fails
    int32_t kind = 0;
    bool hasProp = true;  // false: GetRequestProperty fails
    int32_t prop = 0;
    int32_t state = 50;
    Answer answer = Answer::kNone;
    HRESULT rejectCode = 0;
    std::string peer;  // who made the request, where the service knows it
};

// Receives the service's events; called only inside RunEventLoop, on the
// thread that runs it.
class ServiceSink {
public:
    virtual void OnState(int32_t state, HRESULT code) = 0;
    virtual void OnRequest(const std::shared_ptr<RequestRecord>& request) = 0;
    // An instant message from peer on IM session imSession (UTF-8 text);
    // skipped counts the peer's messages folded into it by the inbox.
    virtual void OnIm(const std::string& peer, uint32_t imSession, const std::string& text,
                      int32_t skipped) = 0;
    // peer's client went offline or came back online. again: no change,
    // the peer was online and one of its clients announced itself active
    // anew (it signed on again without the server saying it had left, or
    // the user's own stream is new), so what was sent to it may be lost.
    virtual void OnPresence(const std::string& /*peer*/, bool /*online*/, bool /*again*/) {}

protected:
    ~ServiceSink() = default;
};

struct SignOnInfo {
    std::string name;
    std::string password;
    std::string clientInfo;
    InboxPolicy inbox;  // how incoming messages wait for the user
};

// All calls but RunEventLoop may come from any of the user's threads.
// A stop asked for by SIGINT or SIGTERM (platform/signals.h) ends the
// session in order: no new message is delivered, sends under way get a few
// seconds, the stream is closed and the state goes to 0 with S_OK.
class Service {
public:
    virtual ~Service() = default;
    virtual HRESULT SignOn(const SignOnInfo& info) = 0;
    virtual std::string SignedOnName() = 0;
    // Opens a new IM session with peer; *imSession receives its number.
    virtual HRESULT OpenImSession(const std::string& peer, uint32_t* imSession) = 0;
    // Returns the message's verdict. While the session reconnects the send
    // waits for it, however long; only a session that has ended (state 0)
    // fails a send at once. Messages leave in the order they were made.
    // extras: an element beside the text, or the element alone.
    virtual HRESULT SendIm(uint32_t imSession, const std::string& peer, const std::string& text,
                           const ImExtras& extras) = 0;
    // The element sent to peer, without a body, when a stop signal ends
    // the session (see IWexSession2); an empty element removes the peer's.
    virtual void SetFarewell(const std::string& peer, const ExtraElement& element) = 0;
    virtual HRESULT EndImSession(uint32_t imSession) = 0;
    virtual void DeclineSecurId() = 0;
    // The user answered a request (the record already holds the answer).
    virtual void RequestAnswered(const std::shared_ptr<RequestRecord>& request) = 0;
    virtual HRESULT RunEventLoop(ServiceSink& sink) = 0;
    virtual void EndEventLoop(HRESULT code) = 0;
};

// The service prepared by PrepareService, handed to the session that signs
// on; empty when none is prepared (or it was taken already).
std::unique_ptr<Service> TakePreparedService(const std::string& description);

}  // namespace wexcore
