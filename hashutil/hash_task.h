// THashTask: hashes one open file on a thread of its own, so that a window
// stays responsive, and can be watched and cancelled meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "file_hash.h"
#include "file_reader.h"
#include "varn/digest.h"

namespace wexhash {

class THashTask {
public:
    using TFinished = std::function<void(const THashResult& result)>;

    // Starts hashing file with digest, which nothing else may use until the
    // task is destroyed. finished is called once, on the task's thread, with
    // the result; a cancelled run reports TReadEnd::Cancelled.
    THashTask(Varn::TDigest& digest, TFile file, TFinished finished);
    // Cancels the work if it still runs and waits for the thread.
    ~THashTask();
    THashTask(const THashTask&) = delete;
    THashTask& operator=(const THashTask&) = delete;

    void Cancel() { cancel_ = true; }
    uint64_t BytesDone() const { return done_.load(std::memory_order_relaxed); }
    // The file's size, or 0 when it is not known.
    uint64_t Size() const { return file_.size(); }

private:
    std::atomic<bool> cancel_ = false;
    std::atomic<uint64_t> done_ = 0;
    TFile file_;
    std::thread thread_;
};

}  // namespace wexhash
