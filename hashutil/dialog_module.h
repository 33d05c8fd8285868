// The dialog and Qt live in a module of their own, loaded only when a window
// is wanted, so that console mode starts without loading Qt at all.
#pragma once

namespace wexhash {

// Found beside the program in a build, in ../lib/wex/wexhash once
// installed (see TDialogModule in main.cc).
inline constexpr char kDialogModuleName[] = "libwexhash_dialog.so";

}  // namespace wexhash

extern "C" {

// Runs the dialog modally, showing path and its fingerprint when path is not
// empty. program is argv[0] of the process.
void WexhashRunDialog(char* program, const char* path);

}  // extern "C"
