// Reading a file through a digest into its fingerprint text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "varn/digest.h"

namespace wexhash {

// The one message the user sees when a file cannot be hashed.
inline constexpr char kOpenErrorText[] = "Could not open file.";
inline constexpr char kOpenErrorCaption[] = "Error";

// Files are read in pieces of at most this many bytes, so memory use does
// not depend on the file's size.
inline constexpr size_t kReadPieceSize = 8192;

// Returns the digest of the bytes of the file at path as upper-case
// hexadecimal digits (64 for SHA-256). Returns nullopt when the file cannot be
// opened, is a directory, or cannot be read to its end: a fingerprint of part
// of a file is never given. The digest is in its initial state afterwards.
std::optional<std::string> HashFile(Varn::TDigest& digest, const std::string& path);

}  // namespace wexhash
