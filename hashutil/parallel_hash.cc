#include "parallel_hash.h"

#include <unistd.h>

#include <algorithm>

#include "varn/sha256_digest.h"

namespace wexhash {
namespace {

THashResult HashOne(Varn::TSha256Digest& digest, const std::string& path, bool readAhead) {
    if (path != "-") return HashPath(digest, path, readAhead);
    return HashOpenFile(digest, TFile::Borrow(STDIN_FILENO), {}, readAhead);
}

}  // namespace

unsigned Cores() {
    // Asked once: the library reads it from a file each time.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

THashQueue::THashQueue(unsigned threads) : maxThreads_(std::max(threads, 1u)) {}

THashQueue::~THashQueue() {
    std::vector<std::jthread> workers;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        workers.swap(workers_);
    }
    work_.notify_all();
    workers.clear();  // joins
}

void THashQueue::Add(std::string path) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(path), std::nullopt});
        // Another worker only when none is free for this job.
        if (idle_ == 0 && workers_.size() < maxThreads_) {
            workers_.emplace_back([this] { Work(); });
        }
    }
    work_.notify_one();
}

size_t THashQueue::Waiting() const {
    const std::lock_guard lock(mutex_);
    return jobs_.size();
}

THashResult THashQueue::TakeOldest() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return jobs_.front().result.has_value(); });
    THashResult result = std::move(*jobs_.front().result);
    jobs_.pop_front();
    ++taken_;
    --started_;
    return result;
}

void THashQueue::Work() {
    Varn::TSha256Digest digest;
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        work_.wait(lock, [&] { return stop_ || started_ < jobs_.size(); });
        --idle_;
        if (stop_) return;
        // A job is popped only after its result is in, so its number stays
        // good while this worker hashes.
        const size_t number = taken_ + started_++;
        const std::string path = jobs_[number - taken_].path;
        std::unique_lock<std::mutex> input;
        if (path == "-") input = std::unique_lock(standardInput_);
        // While a core is left over, a worker reads ahead on a thread of its
        // own beside its hashing; when every core hashes already, it reads
        // for itself.
        const bool readAhead = workers_.size() < Cores();
        lock.unlock();
        THashResult result = HashOne(digest, path, readAhead);
        if (input) input.unlock();
        lock.lock();
        jobs_[number - taken_].result = std::move(result);
        if (number == taken_) done_.notify_one();
    }
}

void HashInOrder(const std::vector<std::string>& paths, unsigned threads,
                 const std::function<void(size_t index, const THashResult& result)>& report) {
    THashQueue queue(threads);
    size_t reported = 0;
    for (const std::string& path : paths) {
        if (queue.Waiting() == WindowFor(threads)) report(reported++, queue.TakeOldest());
        queue.Add(path);
    }
    while (reported < paths.size()) report(reported++, queue.TakeOldest());
}

unsigned ThreadsFor(size_t files) {
    return static_cast<unsigned>(std::min<size_t>(Cores(), std::max<size_t>(files, 1)));
}

size_t WindowFor(unsigned threads) {
    return 64 * static_cast<size_t>(std::max(threads, 1u));
}

}  // namespace wexhash
