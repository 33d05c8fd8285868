// Reference-counted objects shared between the component and its user.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "wexcore/result_codes.h"

// Interface identifiers.
using WexIid = uint32_t;
constexpr WexIid IID_IUnknown = 1;
constexpr WexIid IID_IDispatch = 2;
constexpr WexIid DIID_DWexSessionEvents = 3;
constexpr WexIid IID_IWexSession = 10;
constexpr WexIid IID_IWexClientInfo = 11;
constexpr WexIid IID_IWexIm = 12;
constexpr WexIid IID_IWexImSession = 13;
constexpr WexIid IID_IWexParticipant = 14;
constexpr WexIid IID_IWexRequest = 15;
constexpr WexIid IID_IWexRequest2 = 16;
constexpr WexIid IID_IWexPrefsHook = 17;
constexpr WexIid IID_IWexConnectionPoint = 18;
constexpr WexIid IID_IWexIm2 = 19;
constexpr WexIid IID_IWexIm3 = 20;
constexpr WexIid IID_IWexSession2 = 21;

struct IWexUnknown {
    virtual HRESULT QueryInterface(WexIid iid, void** ppv) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IWexUnknown() = default;
};

// Smart pointer holding one reference.
template <typename T>
class WexPtr {
public:
    WexPtr() = default;
    WexPtr(T* p) : m_p(p) {  // takes its own reference
        if (m_p) m_p->AddRef();
    }
    WexPtr(const WexPtr& o) : WexPtr(o.m_p) {}
    WexPtr(WexPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    WexPtr& operator=(WexPtr o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~WexPtr() {
        if (m_p) m_p->Release();
    }
    // Adopts a reference that the caller already holds.
    static WexPtr Adopt(T* p) {
        WexPtr ptr;
        ptr.m_p = p;
        return ptr;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    // Releases the current object and returns the slot for an out-parameter.
    T** Out() {
        *this = WexPtr();
        return &m_p;
    }
    void Reset() { *this = WexPtr(); }

private:
    T* m_p = nullptr;
};

// Asks obj for interface iid; the result holds one reference, or is empty.
template <typename T>
WexPtr<T> QueryAs(IWexUnknown* obj, WexIid iid) {
    void* p = nullptr;
    if (obj == nullptr || Failed(obj->QueryInterface(iid, &p))) return WexPtr<T>();
    return WexPtr<T>::Adopt(static_cast<T*>(p));
}

// Answers QueryInterface for an object whose only interface besides
// IUnknown is own (self's interface type T).
template <typename T>
HRESULT QuerySingle(T* self, WexIid own, WexIid iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == own) {
        self->AddRef();
        *ppv = self;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// Thread-safe reference count for objects shared between the component and
// its user, which both of the bot's threads may hold. With several
// interfaces as bases, the one count serves them all.
template <typename... Bases>
class WexRefCounted : public Bases... {
public:
    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override {
        uint32_t left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~WexRefCounted() = default;

private:
    std::atomic<uint32_t> m_refs{0};
};
