// Ctrl+C and SIGTERM ask the program to stop in order. The first such
// signal only raises a flag and makes StopFd readable; whoever runs the
// program's loops acts on it. A second one ends the process at once.
#pragma once

namespace platform {

// Installs the handlers for SIGINT and SIGTERM and ignores SIGPIPE; call
// once, early in main.
void InstallStopSignals();
bool StopRequested();
// Readable once a stop has been requested (for poll); -1 before install.
int StopFd();
// "INT" or "TERM" once a stop has been requested, else "".
const char* StopSignalName();

}  // namespace platform
