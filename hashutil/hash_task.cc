#include "hash_task.h"

#include <utility>

namespace wexhash {

THashTask::THashTask(Varn::TDigest& digest, TFile file, TFinished finished)
    : file_(std::move(file)) {
    thread_ = std::thread([this, &digest, finished = std::move(finished)] {
        finished(HashOpenFile(digest, file_, {&cancel_, &done_}, true));
    });
}

THashTask::~THashTask() {
    Cancel();
    thread_.join();
}

}  // namespace wexhash
