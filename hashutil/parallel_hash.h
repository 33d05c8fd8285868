// Hashing a list of files on several threads, with the results in order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "file_hash.h"

namespace wexhash {

// Hashes the file at each path ("-" is standard input) with SHA-256, up to
// threads files at a time, and calls report on the calling thread with the
// results in the order of paths, each as soon as it and all before it are done.
void HashInOrder(const std::vector<std::string>& paths, unsigned threads,
                 const std::function<void(size_t index, const THashResult& result)>& report);

// One thread per core, but no more than there are files.
unsigned ThreadsFor(size_t files);

}  // namespace wexhash
