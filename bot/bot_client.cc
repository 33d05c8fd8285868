#include "bot/bot_client.h"

#include <new>
#include <system_error>

#include "bot/client_prefs.h"
#include "bot/guarded_call.h"
#include "bot/string_ops.h"
#include "messaging/config_values.h"
#include "messaging/result_names.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "wexcore/api.h"

CBotClient::CBotClient() = default;

CBotClient::~CBotClient() {
    StopWorker();
    // The session holds the preference store, which holds the session: take
    // the store back so that both, and the service under them, are freed.
    if (m_spiSession) m_spiSession->put_PrefsHook(nullptr);
    m_connections.clear();
}

HRESULT CBotClient::QueryInterface(WexIid iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID_DWexSessionEvents) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IWexDispatch*>(this);
    return S_OK;
}

HRESULT CBotClient::GetTypeInfoCount(uint32_t*) {
    return E_NOTIMPL;
}
HRESULT CBotClient::GetTypeInfo(uint32_t, void**) {
    return E_NOTIMPL;
}
HRESULT CBotClient::GetIDsOfNames(const char16_t**, uint32_t, int32_t*) {
    return E_NOTIMPL;
}

HRESULT CBotClient::Run(const PropertyFile& config) {
    HRESULT hr = PrepareMessagingService(config);
    if (Failed(hr)) return hr;
    if (!LoadAccountSettings(config, m_transcript, &m_account) ||
        !m_transcript.SetUpLogFile(config) || !ReadGameParameters(config) ||
        !ReadAnswerTimeout(config) || !ReadDropout(config) || !m_flood.Read(config) ||
        !ReadMessageLimit(config) || !ReadLanguage(config)) {
        return E_INVALIDARG;
    }
    // Before the transcript's first line: a resume that is refused writes
    // nothing, and a resumed game continues its earlier transcript.
    hr = ResumeRecord(config);
    if (Failed(hr)) return hr;
    // The transcript is the experiment's record: a session whose transcript
    // can't be written does not start.
    if (Failed(LogInitLines())) {
        return RefuseStartUp("cannot write the transcript " + m_transcript.LogPath());
    }
    if (!m_resumed) {
        hr = StartRecord();
        if (Failed(hr)) return hr;
    } else {
        m_transcript.WriteLog(
            0, "INIT",
            platform::FormatText("Game resumed at round %i from %s.",
                                 m_recorder.Game().round.load(), m_recorder.JournalPath().c_str()));
    }
    JournalMessageCounts();
    // The researcher names this file in Resume after a crash.
    platform::Print("journal: " + m_recorder.JournalPath() + "\n");
    StartWorker();
    if (!PrepareRoundStorage(m_game.params.nRounds)) {
        return RefuseStartUp(BelowMin(ConfigKeyNamed("NRounds"), m_game.params.nRounds));
    }
    if (m_resumed) {
        platform::MutexLock lock(gameLock);
        TakeUpSavedGame();
    }
    // A session that never signs on must not keep the bot attached to it;
    // an exception from Login is detached by the caller (see main).
    hr = Login();
    if (Failed(hr)) DetachFromAllSessions();
    return hr;
}

HRESULT CBotClient::RefuseStartUp(const std::string& reason) {
    platform::PrintErrorLine("wexbot: " + reason);
    return E_INVALIDARG;
}

// Reads Service and gets the component ready for it. This comes first:
// the simulated service sets the clock that everything after it reads.
HRESULT CBotClient::PrepareMessagingService(const PropertyFile& config) {
    if (!config.loadProblem.empty()) return RefuseStartUp(config.loadProblem);
    CWexBstr value;
    if (Failed(config.GetString("Service", value)) || Failed(ToNarrow(m_service, value)) ||
        m_service.empty()) {
        return RefuseStartUp(kNoServiceText);
    }
    std::string reason;
    if (Failed(PrepareService(m_service, &reason))) return RefuseStartUp(reason);
    return S_OK;
}

HRESULT CBotClient::LogInitLines() {
    HRESULT hr = m_transcript.WriteLog(0, "INIT", "SelkBot initializing.");
    m_transcript.WriteLog(1, "INIT", "Subject 1 username initialized.");
    m_transcript.WriteLog(2, "INIT", "Subject 2 username initialized.");
    m_transcript.WriteLog(3, "INIT", "Moderator username initialized.");
    return hr;
}

void CBotClient::RunWorkerBody(const std::function<void()>& body) {
    HRESULT hr = GuardedCall([&] {
        body();
        return S_OK;
    });
    if (Failed(hr)) {
        platform::PrintFormat("worker thread failed with hr=%08X %s\n", static_cast<uint32_t>(hr),
                              ResultName(hr));
        EndEventLoop(hr);
    }
}

void CBotClient::StartWorker() {
    try {
        // Read here: the worker never reads the parameters unlocked while
        // a resume takes them up.
        bool answerTimeout = m_game.params.answerTimeout > 0;
        bool dropouts = m_game.params.dropoutAfter > 0;
        m_worker.Start([this, answerTimeout, dropouts] {
            RunWorkerBody(
                [this, answerTimeout, dropouts] { BreakTimerLoop(this, answerTimeout, dropouts); });
        });
    } catch (const std::system_error&) {
        // Without the worker, breaks end only by "done" or the moderator.
    }
}

// Stops the worker thread and waits for it, so that it never outlives the
// bot object.
void CBotClient::StopWorker() {
    {
        platform::MutexLock lock(m_workerMu);
        m_shuttingDown = true;
    }
    m_workerWake.NotifyAll();
    m_worker.Join();
}

bool CBotClient::WorkerSleepUntil(int64_t deadline) {
    platform::MutexLock lock(m_workerMu);
    while (!m_shuttingDown && !m_workerPoked) {
        if (!m_workerWake.WaitUntil(lock, deadline) && platform::NowMs() >= deadline) break;
    }
    m_workerPoked = false;
    return !m_shuttingDown;
}

void CBotClient::PokeWorker() {
    {
        platform::MutexLock lock(m_workerMu);
        m_workerPoked = true;
    }
    m_workerWake.NotifyAll();
}
