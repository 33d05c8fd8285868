// The session's event interface: 64 events, each with its number and the
// number of its arguments. X(number, handler name, argument count).
#pragma once

#define WEX_SESSION_EVENTS(X)           \
    X(100, OnStateChange, 3)            \
    X(101, OnSignOnProgress, 3)         \
    X(102, OnSecurIdRequested, 2)       \
    X(103, OnPasswordChanged, 2)        \
    X(104, OnSignedOnNameChanged, 2)    \
    X(105, OnServerMessage, 2)          \
    X(106, OnSessionPropertyChanged, 3) \
    X(107, OnUpgradeAvailable, 2)       \
    X(200, OnBuddyListReady, 1)         \
    X(201, OnBuddyAdded, 3)             \
    X(202, OnBuddyRemoved, 3)           \
    X(203, OnBuddyMoved, 4)             \
    X(204, OnGroupAdded, 2)             \
    X(205, OnGroupRemoved, 2)           \
    X(206, OnGroupRenamed, 3)           \
    X(207, OnBuddyListError, 2)         \
    X(300, OnPresenceChanged, 4)        \
    X(301, OnIdleStateChanged, 3)       \
    X(302, OnAwayMessageChanged, 3)     \
    X(303, OnProfileChanged, 3)         \
    X(304, OnCapabilitiesChanged, 3)    \
    X(305, OnIconChanged, 3)            \
    X(306, OnStatusTextChanged, 3)      \
    X(307, OnWarningLevelChanged, 3)    \
    X(400, OnPreferenceChanged, 2)      \
    X(401, OnPreferenceResult, 3)       \
    X(402, OnPreferencesSaved, 1)       \
    X(403, OnBlockListChanged, 2)       \
    X(404, OnPermitListChanged, 2)      \
    X(405, OnPrivacyModeChanged, 2)     \
    X(500, OnRequestListChanged, 1)     \
    X(501, OnRequest, 4)                \
    X(502, OnRequestCancelled, 3)       \
    X(503, OnRequestAccepted, 3)        \
    X(504, OnRequestRejected, 3)        \
    X(505, OnRequestExpired, 2)         \
    X(506, OnFileTransferRequest, 4)    \
    X(507, OnFileTransferProgress, 4)   \
    X(508, OnFileTransferDone, 3)       \
    X(509, OnDirectConnection, 3)       \
    X(600, OnImSessionStateChange, 4)   \
    X(601, OnImSessionCreated, 2)       \
    X(602, OnParticipantJoined, 3)      \
    X(603, OnParticipantLeft, 3)        \
    X(604, OnImReceived, 4)             \
    X(605, OnImSent, 4)                 \
    X(606, OnImFailed, 4)               \
    X(607, OnTypingStatus, 4)           \
    X(608, OnImSessionEnded, 3)         \
    X(609, OnImSessionInvite, 4)        \
    X(700, OnChatRoomJoined, 2)         \
    X(701, OnChatRoomLeft, 2)           \
    X(702, OnChatMessage, 4)            \
    X(703, OnChatParticipants, 3)       \
    X(704, OnChatTopicChanged, 3)       \
    X(705, OnChatInvite, 4)             \
    X(800, OnAlertReceived, 3)          \
    X(801, OnAlertCleared, 2)           \
    X(802, OnMailCountChanged, 3)       \
    X(803, OnNewsReceived, 3)           \
    X(900, OnCustomDataReceived, 4)     \
    X(901, OnPluginEvent, 3)            \
    X(902, OnDiagnostic, 2)             \
    X(903, OnShutdownPending, 2)

// Connection states reported by event 100.
constexpr int32_t WEX_STATE_OFFLINE = 0;
constexpr int32_t WEX_STATE_DISCONNECTED = 50;
constexpr int32_t WEX_STATE_CONNECTING = 100;
constexpr int32_t WEX_STATE_SECURID = 210;
constexpr int32_t WEX_STATE_SECURID_NEXT = 211;
constexpr int32_t WEX_STATE_ONLINE = 500;
constexpr int32_t WEX_STATE_ONLINE_IDLE = 600;

// Request state in which a request waits for an answer.
constexpr int32_t WEX_REQUEST_PENDING = 50;
// Request kind the bot accepts, and the property that qualifies it.
constexpr int32_t WEX_REQUEST_KIND_SESSION = 1;
constexpr int32_t WEX_REQUEST_PROP_QUALIFIER = 1000;
