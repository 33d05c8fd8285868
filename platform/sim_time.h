// Simulated time: the program's threads take turns, one running at a time,
// and the clock jumps to the next wake-up when every thread waits. Runs are
// therefore deterministic and take no real time.
#pragma once

#include <cstdint>
#include <functional>

namespace platform::sim {

struct ThreadRecord;

// Switches the process to simulated time starting at startMs (milliseconds
// since 1970). The calling thread becomes the first simulated thread, named
// "main". Call once, while the process has only this thread.
//
// Misuse that real locks would turn into a hang or undefined behaviour ends
// the process with a message naming the lock or thread: taking a lock the
// thread already holds, releasing one it does not hold, and any call from a
// thread that was not started through Spawn (platform::Thread).
void Start(int64_t startMs);
bool Active();

int64_t NowMs();
void Sleep(int64_t ms);

// Lock state of a simulated mutex; name is used in misuse messages.
struct MutexState {
    const char* name = "a lock";
    ThreadRecord* owner = nullptr;
};
void Lock(MutexState& m);
void Unlock(MutexState& m);

// Condition state; waiting releases the mutex and takes it back.
struct SignalState {};
// Returns false when the deadline (absolute ms; negative = none) passed.
bool Wait(SignalState& s, MutexState& m, int64_t deadlineMs);
void NotifyAll(SignalState& s);

// Starts body on a new simulated thread named name (kept by pointer); it
// runs when the others wait.
ThreadRecord* Spawn(const char* name, std::function<void()> body);
// Waits until the thread has ended, then frees its system thread.
void Join(ThreadRecord* thread);

}  // namespace platform::sim
