// Result codes of the messaging component and of the platform.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

// Builds a code from its unsigned 32-bit spelling.
constexpr HRESULT MakeResult(uint32_t bits) {
    return static_cast<HRESULT>(bits);
}

inline bool Failed(HRESULT hr) {
    return hr < 0;
}
inline bool Succeeded(HRESULT hr) {
    return hr >= 0;
}

// The platform's general codes.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
constexpr HRESULT E_POINTER = MakeResult(0x80004003);
constexpr HRESULT E_FAIL = MakeResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeResult(0x80020005);

// The component's named codes: X(identifier, code, printed name).
#define WEX_RESULT_CODES(X)                                                               \
    X(WEX_S, 0x00040000, "WEX_S")                                                         \
    X(WEX_E, 0x80040000, "WEX_E")                                                         \
    X(WEX_E_TOO_MANY_ITEMS, 0x80040200, "WEX_E_TOO_MANY_ITEMS")                           \
    X(WEX_E_TOO_MUCH_DATA, 0x80040201, "WEX_E_TOO_MUCH_DATA")                             \
    X(WEX_E_ALREADY_EXISTS, 0x80040202, "WEX_E_ALREADY_EXISTS")                           \
    X(WEX_E_NO_DATA, 0x80040203, "WEX_E_NO_DATA")                                         \
    X(WEX_E_INVALID_DATA, 0x80040204, "WEX_E_INVALID_DATA")                               \
    X(WEX_E_BANNED_DATA, 0x80040205, "WEX_E_BANNED_DATA")                                 \
    X(WEX_E_TOO_MANY_MATCHES, 0x80040206, "WEX_E_TOO_MANY_MATCHES")                       \
    X(WEX_E_MUST_REQUEST_DATA, 0x80040207, "WEX_E_MUST_REQUEST_DATA")                     \
    X(WEX_E_RATE_LIMITED, 0x80040210, "WEX_E_RATE_LIMITED")                               \
    X(WEX_E_NOT_LOGGED_ON, 0x80040211, "WEX_E_NOT_LOGGED_ON")                             \
    X(WEX_E_INVALID_CLIENT_INFO, 0x80040212, "WEX_E_INVALID_CLIENT_INFO")                 \
    X(WEX_E_INVALID_IDENTITY, 0x80040213, "WEX_E_INVALID_IDENTITY")                       \
    X(WEX_E_SERVER_ERROR, 0x80040214, "WEX_E_SERVER_ERROR")                               \
    X(WEX_E_TIMEOUT, 0x80040215, "WEX_E_TIMEOUT")                                         \
    X(WEX_E_FEATURE_DISABLED, 0x80040216, "WEX_E_FEATURE_DISABLED")                       \
    X(WEX_E_FEATURE_UNAVAILABLE, 0x80040217, "WEX_E_FEATURE_UNAVAILABLE")                 \
    X(WEX_E_INSUFFICIENT_RIGHTS, 0x80040218, "WEX_E_INSUFFICIENT_RIGHTS")                 \
    X(WEX_E_FILE_NOT_FOUND, 0x80040220, "WEX_E_FILE_NOT_FOUND")                           \
    X(WEX_E_WRITE_FAILED, 0x80040221, "WEX_E_WRITE_FAILED")                               \
    X(WEX_E_INVALID_PASSWORD, 0x80040222, "WEX_E_INVALID_PASSWORD")                       \
    X(WEX_E_READ_FAILED, 0x80040223, "WEX_E_READ_FAILED")                                 \
    X(WEX_E_INVALID_CHECKSUM, 0x80040224, "WEX_E_INVALID_CHECKSUM/WEX_E_FILE_CORRUPT")    \
    X(WEX_E_REQUEST_DENIED, 0x80040225, "WEX_E_REQUEST_DENIED")                           \
    X(WEX_E_NO_ADDRESS, 0x80040226, "WEX_E_NO_ADDRESS")                                   \
    X(WEX_E_UNSUPPORTED_CONVERSION, 0x80040227, "WEX_E_UNSUPPORTED_CONVERSION")           \
    X(WEX_E_INVALID_SERVER_NAME, 0x80040230, "WEX_E_INVALID_SERVER_NAME")                 \
    X(WEX_E_CONNECT_ERROR, 0x80040231, "WEX_E_CONNECT_ERROR")                             \
    X(WEX_E_INVALID_PROXY_NAME, 0x80040232, "WEX_E_INVALID_PROXY_NAME")                   \
    X(WEX_E_PROXY_CONNECT_ERROR, 0x80040233, "WEX_E_PROXY_CONNECT_ERROR")                 \
    X(WEX_E_PROXY_AUTH_ERROR, 0x80040234, "WEX_E_PROXY_AUTH_ERROR")                       \
    X(WEX_E_INVALID_TUNNEL_NAME, 0x80040235, "WEX_E_INVALID_TUNNEL_NAME")                 \
    X(WEX_E_TUNNEL_CONNECT_ERROR, 0x80040236, "WEX_E_TUNNEL_CONNECT_ERROR")               \
    X(WEX_E_BUMPED, 0x80040237, "WEX_E_BUMPED")                                           \
    X(WEX_E_SSL_HANDSHAKE_ERROR, 0x80040238, "WEX_E_SSL_HANDSHAKE_ERROR")                 \
    X(WEX_E_DISCONNECTED, 0x8004023F, "WEX_E_DISCONNECTED")                               \
    X(WEX_E_SUSPENDED_IDENTITY, 0x80040240, "WEX_E_SUSPENDED_IDENTITY")                   \
    X(WEX_E_MANDATORY_UPGRADE, 0x80040241, "WEX_E_MANDATORY_UPGRADE")                     \
    X(WEX_E_INVALID_SECURID, 0x80040242, "WEX_E_INVALID_SECURID")                         \
    X(WEX_E_NEED_CREDIT_CARD_VALIDATION, 0x80040243, "WEX_E_NEED_CREDIT_CARD_VALIDATION") \
    X(WEX_E_INVALID_LINK, 0x80040244, "WEX_E_INVALID_LINK")                               \
    X(WEX_E_BROKEN_LINK, 0x80040245, "WEX_E_BROKEN_LINK")                                 \
    X(WEX_E_NOT_FROM_FREE_AREA, 0x80040250, "WEX_E_NOT_FROM_FREE_AREA")                   \
    X(WEX_E_PARENTAL_CONTROLS, 0x80040251, "WEX_E_PARENTAL_CONTROLS")                     \
    X(WEX_E_SESSION_FULL, 0x80040252, "WEX_E_SESSION_FULL")                               \
    X(WEX_E_PAYMENT_REQUIRED, 0x80040253, "WEX_E_PAYMENT_REQUIRED")                       \
    X(WEX_E_INVALID_SESSION_NAME, 0x80040254, "WEX_E_INVALID_SESSION_NAME")               \
    X(WEX_E_CANNOT_INITIATE_SESSION, 0x80040255, "WEX_E_CANNOT_INITIATE_SESSION")         \
    X(WEX_E_USER_BLOCKED, 0x80040260, "WEX_E_USER_BLOCKED")                               \
    X(WEX_E_USER_NOT_CAPABLE, 0x80040261, "WEX_E_USER_NOT_CAPABLE")                       \
    X(WEX_E_USER_NOT_LOGGED_ON, 0x80040262, "WEX_E_USER_NOT_LOGGED_ON")                   \
    X(WEX_E_USER_PARENTAL_CONTROLS, 0x80040263, "WEX_E_USER_PARENTAL_CONTROLS")           \
    X(WEX_E_USER_INNOCENT, 0x80040264, "WEX_E_USER_INNOCENT")                             \
    X(WEX_E_USER_IS_BUDDY, 0x80040265, "WEX_E_USER_IS_BUDDY")                             \
    X(WEX_E_USER_IS_BOT, 0x80040266, "WEX_E_USER_IS_BOT")                                 \
    X(WEX_E_USER_DID_NOT_INITIATE, 0x80040267, "WEX_E_USER_DID_NOT_INITIATE")             \
    X(WEX_E_USER_REJECTED, 0x80040270, "WEX_E_USER_REJECTED")                             \
    X(WEX_E_USER_UNAVAILABLE, 0x80040271, "WEX_E_USER_UNAVAILABLE")                       \
    X(WEX_E_VERSION_MISMATCH, 0x80040272, "WEX_E_VERSION_MISMATCH")                       \
    X(WEX_E_SECURITY_MISMATCH, 0x80040273, "WEX_E_SECURITY_MISMATCH")                     \
    X(WEX_E_USER_BUSY, 0x80040274, "WEX_E_USER_BUSY")                                     \
    X(WEX_E_USER_CANCELLED, 0x80040278, "WEX_E_USER_CANCELLED")                           \
    X(WEX_E_USER_ABANDONED, 0x80040279, "WEX_E_USER_ABANDONED")                           \
    X(WEX_E_ACCEPTED_ELSEWHERE, 0x8004027A, "WEX_E_ACCEPTED_ELSEWHERE")                   \
    X(WEX_E_SESSION_CLOSED, 0x80040280, "WEX_E_SESSION_CLOSED")                           \
    X(WEX_E_SESSION_EXPIRED, 0x80040281, "WEX_E_SESSION_EXPIRED")                         \
    X(WEX_E_SESSION_SHUTDOWN, 0x80040282, "WEX_E_SESSION_SHUTDOWN")                       \
    X(WEX_E_EJECTED, 0x80040283, "WEX_E_EJECTED")                                         \
    X(WEX_E_INVALID_SIGNATURE, 0x80040300, "WEX_E_INVALID_SIGNATURE")                     \
    X(WEX_E_EXPIRED_CERT, 0x80040310, "WEX_E_EXPIRED_CERT")                               \
    X(WEX_E_UNKNOWN_CERT_ISSUER, 0x80040311, "WEX_E_UNKNOWN_CERT_ISSUER")                 \
    X(WEX_E_UNTRUSTED_CERT_ISSUER, 0x80040312, "WEX_E_UNTRUSTED_CERT_ISSUER")             \
    X(WEX_E_INVALID_CERT_USAGE, 0x80040313, "WEX_E_INVALID_CERT_USAGE")                   \
    X(WEX_E_REVOKED_CERT, 0x80040314, "WEX_E_REVOKED_CERT")                               \
    X(WEX_E_NO_DEVICE, 0x80040323, "WEX_E_NO_DEVICE")                                     \
    X(WEX_E_BUSY_DEVICE, 0x80040324, "WEX_E_BUSY_DEVICE")                                 \
    X(WEX_E_PLUGIN_ABORTED_ACTION, 0x80040400, "WEX_E_PLUGIN_ABORTED_ACTION")             \
    X(WEX_E_PLUGIN_CONSUMED_ACTION, 0x80040401, "WEX_E_PLUGIN_CONSUMED_ACTION")           \
    X(WEX_E_INVALID_KEY, 0x80040410, "WEX_E_INVALID_KEY")                                 \
    X(WEX_E_RATE_LIMITED_KEY, 0x80040411, "WEX_E_RATE_LIMITED_KEY")                       \
    X(WEX_E_EXPIRED_KEY, 0x80040412, "WEX_E_EXPIRED_KEY")                                 \
    X(WEX_E_SUSPENDED_KEY, 0x80040413, "WEX_E_SUSPENDED_KEY")                             \
    X(WEX_E_INVALID_FINGERPRINT, 0x80040414, "WEX_E_INVALID_FINGERPRINT")

#define WEX_DECLARE_RESULT_CODE(id, code, name) constexpr HRESULT id = MakeResult(code);
WEX_RESULT_CODES(WEX_DECLARE_RESULT_CODE)
#undef WEX_DECLARE_RESULT_CODE

constexpr HRESULT WEX_E_FILE_CORRUPT = WEX_E_INVALID_CHECKSUM;
