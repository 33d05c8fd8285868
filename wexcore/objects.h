// The component's small objects: instant messages, IM sessions,
// participants, requests, client information and the connection point.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "wexcore/extra_element.h"
#include "wexcore/interfaces.h"
#include "wexcore/service.h"

namespace wexcore {

class ImObject final : public WexRefCounted<IWexIm, IWexIm2, IWexIm3> {
public:
    explicit ImObject(std::string text = std::string(), int32_t skipped = 0)
        : m_text(std::move(text)), m_skipped(skipped) {}
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT SetImText(WEXSTR text) override;
    HRESULT GetImText(const char16_t* mimeType, WEXSTR* text) override;
    HRESULT GetImProperty(int32_t property, WexVariant* value) override;
    HRESULT SetImElement(WEXSTR name, WEXSTR ns) override;
    HRESULT AddImElementAttribute(WEXSTR name, WEXSTR value) override;
    HRESULT SetImBodyless(int32_t bodyless) override;
    std::string Text() const;
    ImExtras Extras() const;

private:
    mutable std::mutex m_mu;
    std::string m_text;  // UTF-8
    ImExtras m_extras;
    const int32_t m_skipped;
};

class ImSessionObject final : public WexRefCounted<IWexImSession> {
public:
    ImSessionObject(std::shared_ptr<Service> service, uint32_t id, std::string peer)
        : m_service(std::move(service)), m_id(id), m_peer(std::move(peer)) {}
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT SendIm(IWexIm* im) override;
    HRESULT EndSession() override;

private:
    std::shared_ptr<Service> m_service;
    uint32_t m_id;
    std::string m_peer;
};

class ParticipantObject final : public WexRefCounted<IWexParticipant> {
public:
    explicit ParticipantObject(std::string name) : m_name(std::move(name)) {}
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT GetParticipantName(WEXSTR* name) override;

private:
    std::string m_name;
};

class RequestObject final : public WexRefCounted<IWexRequest, IWexRequest2> {
public:
    RequestObject(std::shared_ptr<Service> service, std::shared_ptr<RequestRecord> record)
        : m_service(std::move(service)), m_record(std::move(record)) {}
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT GetRequestKind(int32_t* kind) override;
    HRESULT AcceptRequest() override;
    HRESULT RejectRequest(HRESULT reason) override;
    HRESULT GetRequestProperty(int32_t property, WexVariant* value) override;

private:
    ~RequestObject() override = default;
    HRESULT Answer(RequestRecord::Answer answer, HRESULT code);

    std::shared_ptr<Service> m_service;
    std::shared_ptr<RequestRecord> m_record;
};

class ClientInfoObject final : public WexRefCounted<IWexClientInfo> {
public:
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT SetClientInfoProperty(int32_t property, const WexVariant& value) override;
    std::string Description() const { return m_description; }

private:
    std::string m_description;
};

// Keeps the event receivers of one session.
class ConnectionPointObject final : public WexRefCounted<IWexConnectionPoint> {
public:
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT Advise(IWexDispatch* sink, uint32_t* cookie) override;
    HRESULT Unadvise(uint32_t cookie) override;
    // Calls every receiver with the event; receivers may detach meanwhile.
    void Fire(int32_t dispId, const WexVariant* args, uint32_t argCount);

private:
    std::mutex m_mu;
    std::map<uint32_t, WexPtr<IWexDispatch>> m_sinks;
    uint32_t m_nextCookie = 1;
};

// Text of a handle as UTF-8.
std::string Utf8Of(WEXSTR str);

}  // namespace wexcore
