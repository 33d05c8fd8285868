// Hashing files on several threads, with the results in order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_hash.h"

namespace wexhash {

// Hashes the files added to it ("-" is standard input) with SHA-256 on up to
// threads worker threads, started as work comes, and hands the results back
// in the order the paths were added. Standard input is one stream: a "-"
// added twice is read once to its end and then found empty, as sha256sum
// does.
class THashQueue {
public:
    explicit THashQueue(unsigned threads);
    // Stops the workers once their current files are hashed.
    ~THashQueue();
    THashQueue(const THashQueue&) = delete;
    THashQueue& operator=(const THashQueue&) = delete;

    void Add(std::string path);
    // How many results are still to be taken.
    size_t Waiting() const;
    // Waits for the result of the oldest path not yet taken; Waiting() > 0.
    THashResult TakeOldest();

private:
    struct TJob {
        std::string path;
        std::optional<THashResult> result;
    };

    void Work();

    const unsigned maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable work_;  // a job was added, or the queue stops
    std::condition_variable done_;  // the oldest job has its result
    std::deque<TJob> jobs_;         // in the order added; the front is the oldest
    size_t taken_ = 0;              // results taken, and so jobs popped, so far
    size_t started_ = 0;            // jobs_[0, started_) are or were with a worker
    unsigned idle_ = 0;             // workers waiting for a job
    bool stop_ = false;
    // Held while "-" is read, and taken before the job is handed out, so
    // that the entries for standard input get it in the order added.
    std::mutex standardInput_;
    std::vector<std::jthread> workers_;
};

// Hashes the file at each path as THashQueue does, and calls report on the
// calling thread with the results in the order of paths, each as soon as it
// and all before it are done.
void HashInOrder(const std::vector<std::string>& paths, unsigned threads,
                 const std::function<void(size_t index, const THashResult& result)>& report);

// The number of cores, at least 1.
unsigned Cores();

// One thread per core, but no more than there are files.
unsigned ThreadsFor(size_t files);

// How many paths to keep in a THashQueue at once for threads workers: enough
// that none waits for work, few enough that memory does not grow with a list.
size_t WindowFor(unsigned threads);

}  // namespace wexhash
