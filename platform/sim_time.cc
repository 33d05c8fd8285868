#include "platform/sim_time.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::sim {

struct ThreadRecord {
    enum class State { kRunning, kRunnable, kWaiting, kDone };
    const char* name = "";
    State state = State::kRunnable;
    int64_t wakeMs = -1;              // deadline of a wait; -1 = none
    const void* waitingOn = nullptr;  // mutex, signal or thread waited for
    bool notified = false;
    std::condition_variable cv;
    std::thread system;
};

namespace {

std::atomic<bool> g_active{false};
std::mutex g_mu;  // guards everything below
int64_t g_nowMs = 0;
std::vector<std::unique_ptr<ThreadRecord>> g_threads;  // in creation order
ThreadRecord* g_current = nullptr;
thread_local ThreadRecord* t_self = nullptr;

[[noreturn]] void Deadlock() {
    std::fputs("simulated time: every thread waits with nothing to wake it\n", stderr);
    std::abort();
}

[[noreturn]] void Misuse(const char* what, const char* thread, const char* lock) {
    std::fprintf(stderr, "simulated time: thread '%s' %s '%s'\n", thread, what, lock);
    std::abort();
}

// The calling simulated thread; a thread the simulation does not know would
// run outside the turn order, so it ends the process.
ThreadRecord* Self() {
    if (t_self == nullptr) {
        std::fputs(
            "simulated time: a thread not started through platform::Thread uses the "
            "simulated clock, a lock or a signal\n",
            stderr);
        std::abort();
    }
    return t_self;
}

// Wakes every thread waiting on obj.
void WakeWaitersOn(const void* obj, bool notify) {
    for (auto& t : g_threads) {
        if (t->state == ThreadRecord::State::kWaiting && t->waitingOn == obj) {
            t->state = ThreadRecord::State::kRunnable;
            t->notified = notify;
        }
    }
}

ThreadRecord* FirstRunnable() {
    for (auto& t : g_threads) {
        if (t->state == ThreadRecord::State::kRunnable) return t.get();
    }
    return nullptr;
}

// The next thread to run; when none can run, moves the clock to the
// earliest deadline and wakes the threads due then.
ThreadRecord* PickNext() {
    if (ThreadRecord* t = FirstRunnable()) return t;
    int64_t earliest = -1;
    for (auto& t : g_threads) {
        if (t->state == ThreadRecord::State::kWaiting && t->wakeMs >= 0 &&
            (earliest < 0 || t->wakeMs < earliest)) {
            earliest = t->wakeMs;
        }
    }
    if (earliest < 0) return nullptr;
    if (earliest > g_nowMs) g_nowMs = earliest;
    for (auto& t : g_threads) {
        if (t->state == ThreadRecord::State::kWaiting && t->wakeMs >= 0 && t->wakeMs <= g_nowMs) {
            t->state = ThreadRecord::State::kRunnable;
            t->notified = false;
        }
    }
    return FirstRunnable();
}

// Hands the turn to the next thread (self has set its waiting state).
void HandOver(ThreadRecord* self) {
    ThreadRecord* next = PickNext();
    if (next == nullptr) Deadlock();
    g_current = next;
    next->state = ThreadRecord::State::kRunning;
    if (next != self) next->cv.notify_one();
}

// Called by the running thread after it set its waiting state; returns when
// it is this thread's turn again.
void WaitTurn(std::unique_lock<std::mutex>& lk) {
    ThreadRecord* self = t_self;
    HandOver(self);
    self->cv.wait(lk, [self] { return g_current == self; });
    self->wakeMs = -1;
    self->waitingOn = nullptr;
}

void WaitOn(std::unique_lock<std::mutex>& lk, const void* obj, int64_t wakeMs) {
    Self();
    t_self->state = ThreadRecord::State::kWaiting;
    t_self->waitingOn = obj;
    t_self->wakeMs = wakeMs;
    t_self->notified = false;
    WaitTurn(lk);
}

void LockHeld(std::unique_lock<std::mutex>& lk, MutexState& m) {
    ThreadRecord* self = Self();
    if (m.owner == self) Misuse("takes a lock it already holds:", self->name, m.name);
    while (m.owner != nullptr) WaitOn(lk, &m, -1);
    m.owner = self;
}

void UnlockHeld(MutexState& m) {
    ThreadRecord* self = Self();
    if (m.owner != self) Misuse("releases a lock it does not hold:", self->name, m.name);
    m.owner = nullptr;
    WakeWaitersOn(&m, false);
}

}  // namespace

void Start(int64_t startMs) {
    std::lock_guard<std::mutex> lk(g_mu);
    g_nowMs = startMs;
    auto main = std::make_unique<ThreadRecord>();
    main->name = "main";
    main->state = ThreadRecord::State::kRunning;
    t_self = main.get();
    g_current = main.get();
    g_threads.push_back(std::move(main));
    g_active = true;
}

bool Active() {
    return g_active.load();
}

int64_t NowMs() {
    std::lock_guard<std::mutex> lk(g_mu);
    Self();
    return g_nowMs;
}

void Sleep(int64_t ms) {
    std::unique_lock<std::mutex> lk(g_mu);
    WaitOn(lk, nullptr, g_nowMs + (ms > 0 ? ms : 0));
}

void Lock(MutexState& m) {
    std::unique_lock<std::mutex> lk(g_mu);
    LockHeld(lk, m);
}

void Unlock(MutexState& m) {
    std::lock_guard<std::mutex> lk(g_mu);
    UnlockHeld(m);
}

bool Wait(SignalState& s, MutexState& m, int64_t deadlineMs) {
    std::unique_lock<std::mutex> lk(g_mu);
    UnlockHeld(m);
    WaitOn(lk, &s, deadlineMs);
    bool notified = t_self->notified;
    LockHeld(lk, m);
    return notified;
}

void NotifyAll(SignalState& s) {
    std::lock_guard<std::mutex> lk(g_mu);
    Self();
    WakeWaitersOn(&s, true);
}

namespace {

// The body of a spawned system thread: waits for its first turn, runs, and
// hands the turn on when done.
void RunSpawned(ThreadRecord* rec, const std::function<void()>& body) {
    {
        std::unique_lock<std::mutex> turn(g_mu);
        t_self = rec;
        rec->cv.wait(turn, [rec] { return g_current == rec; });
    }
    body();
    std::unique_lock<std::mutex> done(g_mu);
    rec->state = ThreadRecord::State::kDone;
    WakeWaitersOn(rec, true);
    HandOver(rec);
}

}  // namespace

ThreadRecord* Spawn(const char* name, std::function<void()> body) {
    std::lock_guard<std::mutex> lk(g_mu);
    Self();
    g_threads.push_back(std::make_unique<ThreadRecord>());
    ThreadRecord* rec = g_threads.back().get();
    rec->name = name;
    rec->system = std::thread([rec, body = std::move(body)] { RunSpawned(rec, body); });
    return rec;
}

void Join(ThreadRecord* thread) {
    {
        std::unique_lock<std::mutex> lk(g_mu);
        while (thread->state != ThreadRecord::State::kDone) WaitOn(lk, thread, -1);
    }
    if (thread->system.joinable()) thread->system.join();
}

}  // namespace platform::sim
