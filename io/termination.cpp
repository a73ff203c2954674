#include "io/termination.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace lumivane {

namespace {

// The handler may only call async-signal-safe functions, so the paths live in
// fixed buffers, each guarded by a state that the handler reads atomically.
constexpr int kSlots = 8;
constexpr std::size_t kPathBytes = 4096;
enum SlotState : int { kFree, kBusy, kReady };

struct Slot {
  std::atomic<int> State{kFree};
  char Path[kPathBytes];
};

Slot slots[kSlots];
std::atomic<int> progressDescriptor{-1};

void OnTerminatingSignal(int signalNumber) {
  const int savedErrno = errno;
  for (Slot& slot : slots) {
    if (slot.State.load() == kReady) ::unlink(slot.Path);
  }
  const int descriptor = progressDescriptor.load();
  if (descriptor >= 0) {
    static const char kWipe[] = "\r\033[K";
    [[maybe_unused]] const ssize_t ignored = ::write(descriptor, kWipe, sizeof kWipe - 1);
  }
  errno = savedErrno;
  // SA_RESETHAND has put the default action back; the signal, blocked while
  // this handler runs, ends the process as soon as it returns.
  ::raise(signalNumber);
}

}  // namespace

void InstallTerminationCleanup() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&action.sa_mask, signalNumber);
  }
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal that the caller ignores (nohup, a background job) stays ignored.
    if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    ::sigaction(signalNumber, &action, nullptr);
  }
}

int RegisterTemporaryFile(const char* path) {
  if (std::strlen(path) >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (slots[i].State.compare_exchange_strong(expected, kBusy)) {
      std::strcpy(slots[i].Path, path);
      slots[i].State.store(kReady);
      return i;
    }
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].State.store(kFree);
}

void SetProgressLineDescriptor(int descriptor) {
  progressDescriptor.store(descriptor);
}

}  // namespace lumivane
