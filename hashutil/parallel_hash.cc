#include "parallel_hash.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "varn/sha256_digest.h"

namespace wexhash {
namespace {

THashResult HashOne(Varn::TSha256Digest& digest, const std::string& path, bool readAhead) {
    if (path != "-") return HashPath(digest, path, readAhead);
    return HashOpenFile(digest, TFile::Borrow(STDIN_FILENO), {}, readAhead);
}

// Results waiting to be reported, filled by the workers in any order.
class TResults {
public:
    explicit TResults(size_t count) : slots_(count) {}

    void Put(size_t index, THashResult result) {
        {
            const std::lock_guard lock(mutex_);
            slots_[index] = std::move(result);
        }
        ready_.notify_all();
    }

    THashResult Take(size_t index) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return slots_[index].has_value(); });
        THashResult result = std::move(*slots_[index]);
        slots_[index].reset();
        return result;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::optional<THashResult>> slots_;
};

unsigned Cores() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

unsigned ThreadsFor(size_t files) {
    return static_cast<unsigned>(std::min<size_t>(Cores(), std::max<size_t>(files, 1)));
}

void HashInOrder(const std::vector<std::string>& paths, unsigned threads,
                 const std::function<void(size_t index, const THashResult& result)>& report) {
    TResults results(paths.size());
    std::mutex taking;  // hands out the next index
    size_t next = 0;
    // Standard input is one stream: a "-" listed twice is read once to its
    // end and then found empty, as sha256sum does. Its lock is taken while
    // the index is handed out, so that the entries get it in listed order.
    std::mutex standardInput;
    threads = std::max(threads, 1u);
    // While a core is left over, each worker gets a reader thread beside its
    // hashing; when every core hashes already, each worker reads for itself.
    const bool readAhead = threads < Cores();
    auto work = [&] {
        Varn::TSha256Digest digest;
        for (;;) {
            std::unique_lock take(taking);
            if (next == paths.size()) return;
            const size_t index = next++;
            std::unique_lock<std::mutex> input;
            if (paths[index] == "-") input = std::unique_lock(standardInput);
            take.unlock();
            results.Put(index, HashOne(digest, paths[index], readAhead));
        }
    };

    std::vector<std::jthread> workers;
    for (unsigned i = 0; i < threads; ++i) workers.emplace_back(work);
    for (size_t index = 0; index < paths.size(); ++index) report(index, results.Take(index));
}

}  // namespace wexhash
