// What a terminating signal must undo before the process ends: temporary
// outputs not yet renamed into place, and a progress line left on a terminal.
#pragma once

namespace lumivane {

// SIGINT, SIGTERM and SIGHUP remove every registered temporary file, wipe the
// progress line, then end the process as the signal would have (status 128 + n).
void InstallTerminationCleanup();

// Registers a temporary file for removal at a terminating signal; returns a
// slot for ForgetTemporaryFile, or -1 when none is free (the file then stays
// behind only if a signal comes).
int RegisterTemporaryFile(const char* path);
void ForgetTemporaryFile(int slot);

// The terminal descriptor whose current line holds a progress bar, or -1.
void SetProgressLineDescriptor(int descriptor);

}  // namespace lumivane
