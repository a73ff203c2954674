// What a terminating signal must undo before the process ends: temporary
// files that still have a name, and a progress line left on a terminal.
#pragma once

#include <mutex>
#include <string>

namespace lumivane {

// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove every registered temporary file,
// wipe the progress line, then end the process as the signal would have
// (status 128 + n), without a core file. Call it first in main, before any
// thread starts: it blocks those signals in the calling thread, so that every
// thread started later inherits the mask, and waits for them on a thread of
// its own. A signal the process was started ignoring (nohup) stays ignored.
// Later calls do nothing.
void InstallTerminationCleanup();

// Holds the cleanup off while a temporary file is created and registered, or
// renamed and forgotten, so that it never sees a file half-way: it waits for
// the hold to go, and once it has begun, a new hold waits for the end of the
// process. Keep it only around those few calls.
class TerminationHold {
 public:
  TerminationHold();

 private:
  std::unique_lock<std::mutex> lock_;
};

// Registers a named temporary file for removal at a terminating signal;
// returns the slot for ForgetTemporaryFile.
int RegisterTemporaryFile(const TerminationHold& hold, const std::string& path);
// The file is gone or has become an output: the cleanup leaves it alone.
void ForgetTemporaryFile(const TerminationHold& hold, int slot);

// The terminal descriptor whose current line holds a progress bar, or -1.
void SetProgressLineDescriptor(int descriptor);

}  // namespace lumivane
