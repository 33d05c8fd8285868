#include "wexcore/objects.h"

#include <vector>

#include "wexcore/events.h"

namespace wexcore {

std::string Utf8Of(WEXSTR str) {
    std::string text(StrTextSize(str), '\0');
    StrToText(str, text.data(), text.size());
    return text;
}

HRESULT ImObject::QueryInterface(WexIid iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWexIm) {
        *ppv = static_cast<IWexIm*>(this);
    } else if (iid == IID_IWexIm2) {
        *ppv = static_cast<IWexIm2*>(this);
    } else if (iid == IID_IWexIm3) {
        *ppv = static_cast<IWexIm3*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT ImObject::GetImProperty(int32_t property, WexVariant* value) {
    if (value == nullptr) return E_POINTER;
    if (property != WEX_IM_PROP_SKIPPED) return E_INVALIDARG;
    SetVariantInt(value, m_skipped);
    return S_OK;
}

HRESULT ImObject::SetImText(WEXSTR text) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_text = Utf8Of(text);
    return S_OK;
}

HRESULT ImObject::GetImText(const char16_t*, WEXSTR* text) {
    if (text == nullptr) return E_POINTER;
    return StrFromText(Text().c_str(), text);
}

std::string ImObject::Text() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_text;
}

HRESULT ImObject::SetImElement(WEXSTR name, WEXSTR ns) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_extras.element = ExtraElement{Utf8Of(name), Utf8Of(ns), {}};
    return S_OK;
}

HRESULT ImObject::AddImElementAttribute(WEXSTR name, WEXSTR value) {
    std::lock_guard<std::mutex> lk(m_mu);
    if (m_extras.element.Empty() || StrLength(name) == 0) return E_UNEXPECTED;
    m_extras.element.attributes.emplace_back(Utf8Of(name), Utf8Of(value));
    return S_OK;
}

HRESULT ImObject::SetImBodyless(int32_t bodyless) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_extras.bodyless = bodyless != 0;
    return S_OK;
}

ImExtras ImObject::Extras() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_extras;
}

HRESULT ImSessionObject::QueryInterface(WexIid iid, void** ppv) {
    return QuerySingle<IWexImSession>(this, IID_IWexImSession, iid, ppv);
}

HRESULT ImSessionObject::SendIm(IWexIm* im) {
    if (im == nullptr) return E_POINTER;
    // Only the component's own messages can be sent.
    auto* own = static_cast<ImObject*>(im);
    return m_service->SendIm(m_id, m_peer, own->Text(), own->Extras());
}

HRESULT ImSessionObject::EndSession() {
    return m_service->EndImSession(m_id);
}

HRESULT ParticipantObject::QueryInterface(WexIid iid, void** ppv) {
    return QuerySingle<IWexParticipant>(this, IID_IWexParticipant, iid, ppv);
}

HRESULT ParticipantObject::GetParticipantName(WEXSTR* name) {
    if (name == nullptr) return E_POINTER;
    return StrFromText(m_name.c_str(), name);
}

HRESULT RequestObject::QueryInterface(WexIid iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWexRequest) {
        *ppv = static_cast<IWexRequest*>(this);
    } else if (iid == IID_IWexRequest2) {
        *ppv = static_cast<IWexRequest2*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT RequestObject::GetRequestKind(int32_t* kind) {
    if (kind == nullptr) return E_POINTER;
    if (!m_record->hasKind) return WEX_E_NO_DATA;
    *kind = m_record->kind;
    return S_OK;
}

HRESULT RequestObject::Answer(RequestRecord::Answer answer, HRESULT code) {
    if (m_record->answer != RequestRecord::Answer::kNone) return E_UNEXPECTED;
    m_record->answer = answer;
    m_record->rejectCode = code;
    m_service->RequestAnswered(m_record);
    return S_OK;
}

HRESULT RequestObject::AcceptRequest() {
    return Answer(RequestRecord::Answer::kAccept, S_OK);
}

HRESULT RequestObject::RejectRequest(HRESULT reason) {
    return Answer(RequestRecord::Answer::kReject, reason);
}

HRESULT RequestObject::GetRequestProperty(int32_t property, WexVariant* value) {
    if (value == nullptr) return E_POINTER;
    if (property != WEX_REQUEST_PROP_QUALIFIER || !m_record->hasProp) return WEX_E_NO_DATA;
    SetVariantInt(value, m_record->prop);
    return S_OK;
}

HRESULT ClientInfoObject::QueryInterface(WexIid iid, void** ppv) {
    return QuerySingle<IWexClientInfo>(this, IID_IWexClientInfo, iid, ppv);
}

HRESULT ClientInfoObject::SetClientInfoProperty(int32_t property, const WexVariant& value) {
    if (property != 0) return E_INVALIDARG;
    if (value.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    m_description = Utf8Of(value.bstrVal);
    return S_OK;
}

HRESULT ConnectionPointObject::QueryInterface(WexIid iid, void** ppv) {
    return QuerySingle<IWexConnectionPoint>(this, IID_IWexConnectionPoint, iid, ppv);
}

HRESULT ConnectionPointObject::Advise(IWexDispatch* sink, uint32_t* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lk(m_mu);
    *cookie = m_nextCookie++;
    m_sinks[*cookie] = WexPtr<IWexDispatch>(sink);
    return S_OK;
}

HRESULT ConnectionPointObject::Unadvise(uint32_t cookie) {
    WexPtr<IWexDispatch> gone;  // released after the lock
    std::lock_guard<std::mutex> lk(m_mu);
    auto it = m_sinks.find(cookie);
    if (it == m_sinks.end()) return E_INVALIDARG;
    gone = it->second;
    m_sinks.erase(it);
    return S_OK;
}

void ConnectionPointObject::Fire(int32_t dispId, const WexVariant* args, uint32_t argCount) {
    std::vector<WexPtr<IWexDispatch>> sinks;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        for (auto& entry : m_sinks) sinks.push_back(entry.second);
    }
    for (auto& sink : sinks) sink->Invoke(dispId, args, argCount);
}

}  // namespace wexcore
