// Requests from the network (subscription requests, invitations) between
// their arrival and the user's answer.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wexcore/service.h"

namespace wexcore::xmpp {

// Request kinds: a presence subscription, which the user qualifies with
// property 1000 = 0, and an invitation to a group chat.
constexpr int32_t kRequestSubscription = 1;
constexpr int32_t kRequestInvitation = 2;

struct Offer {
    int32_t kind = kRequestSubscription;
    std::string address;  // subscription: who asks; invitation: who invites
    std::string room;     // invitation: the room
    bool mediated = false;
    RequestRecord::Answer answer = RequestRecord::Answer::kNone;
};

class RequestBook {
public:
    // Network thread: files an offer and returns the record for the user.
    std::shared_ptr<RequestRecord> Add(const Offer& offer, const std::string& peer);
    // User's thread: the record now holds the answer.
    void Answered(const std::shared_ptr<RequestRecord>& record);
    // Network thread: the answered offers, oldest first.
    std::vector<Offer> TakeAnswered();
    // Called (on the user's thread) whenever an answer is given.
    void SetWake(std::function<void()> wake);

private:
    std::mutex m_mutex;
    std::map<const RequestRecord*, std::pair<std::shared_ptr<RequestRecord>, Offer>> m_open;
    std::vector<Offer> m_answered;
    std::function<void()> m_wake;
};

}  // namespace wexcore::xmpp
