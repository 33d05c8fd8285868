// Reading a file through a digest into its fingerprint.
#pragma once

#include <optional>
#include <string>

#include "file_reader.h"
#include "varn/digest.h"

namespace wexhash {

// The one message the user sees when a file cannot be hashed.
inline constexpr char kOpenErrorText[] = "Could not open file.";
inline constexpr char kOpenErrorCaption[] = "Error";

// What became of hashing one file.
struct THashResult {
    TReadEnd end = TReadEnd::Complete;
    int error = 0;    // errno when the file could not be opened or read
    std::string hex;  // upper-case digest when end is Complete
    bool Ok() const { return end == TReadEnd::Complete; }
};

// Feeds the whole of an open file to digest and returns the digest as
// upper-case hexadecimal digits (64 for SHA-256). A fingerprint of part of a
// file is never given. The digest is in its initial state afterwards, also
// after a failure or a cancel.
THashResult HashOpenFile(Varn::TDigest& digest, const TFile& file, const TReadControl& control,
                         bool readAhead);

// Opens path and hashes it as HashOpenFile does; "-" is not special here.
THashResult HashPath(Varn::TDigest& digest, const std::string& path, bool readAhead);

// The fingerprint of the file at path, reading ahead on a second thread, or
// nullopt when it cannot be opened or read to its end.
std::optional<std::string> HashFile(Varn::TDigest& digest, const std::string& path);

}  // namespace wexhash
