#include "io/termination.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <map>
#include <system_error>
#include <thread>

namespace lumivane {

namespace {

constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Never destroyed: a signal may come while static objects are torn down.
struct Registry {
  std::mutex Mutex;
  std::map<int, std::string> Files;
  int NextSlot = 0;
};

Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

std::atomic<int> progressDescriptor{-1};
pthread_t waiter;
std::atomic<bool> waiterRunning{false};

// Runs on the waiting thread, an ordinary thread: it may lock and allocate.
[[noreturn]] void CleanUpAndEnd(int signalNumber) {
  Registry& registry = TheRegistry();
  // Never unlocked: from here on no temporary file is made, renamed or forgotten.
  registry.Mutex.lock();
  for (const auto& [slot, path] : registry.Files) ::unlink(path.c_str());
  const int descriptor = progressDescriptor.load();
  if (descriptor >= 0) {
    static const char kWipe[] = "\r\033[K";
    [[maybe_unused]] const ssize_t ignored = ::write(descriptor, kWipe, sizeof kWipe - 1);
  }
  // SIGQUIT would dump a core into the working folder: one more file left behind.
  const struct rlimit noCore {};
  ::setrlimit(RLIMIT_CORE, &noCore);
  ::signal(signalNumber, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signalNumber);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signalNumber);
  ::_exit(128 + signalNumber);
}

// A thread that was running before the signals were blocked may still take
// one; the waiting thread is the one to act on it.
void ForwardToWaiter(int signalNumber) {
  if (waiterRunning.load()) ::pthread_kill(waiter, signalNumber);
}

void Install() {
  sigset_t handled;
  sigemptyset(&handled);
  for (const int signalNumber : kTerminatingSignals) {
    struct sigaction previous {};
    // A signal that the caller ignores (nohup, a background job) stays ignored.
    if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    sigaddset(&handled, signalNumber);
  }
  sigset_t previousMask;
  ::pthread_sigmask(SIG_BLOCK, &handled, &previousMask);
  try {
    std::thread thread([handled] {
      for (;;) {
        int signalNumber = 0;
        if (::sigwait(&handled, &signalNumber) == 0) CleanUpAndEnd(signalNumber);
      }
    });
    waiter = thread.native_handle();
    thread.detach();
  } catch (const std::system_error&) {
    // No thread to wait with: the signals keep their default action.
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return;
  }
  waiterRunning.store(true);
  struct sigaction forward {};
  forward.sa_handler = ForwardToWaiter;
  forward.sa_mask = handled;
  for (const int signalNumber : kTerminatingSignals)
    if (sigismember(&handled, signalNumber)) ::sigaction(signalNumber, &forward, nullptr);
}

}  // namespace

void InstallTerminationCleanup() {
  static std::once_flag installed;
  std::call_once(installed, Install);
}

TerminationHold::TerminationHold() : lock_(TheRegistry().Mutex) {}

int RegisterTemporaryFile(const TerminationHold&, const std::string& path) {
  Registry& registry = TheRegistry();
  const int slot = registry.NextSlot++;
  registry.Files.emplace(slot, path);
  return slot;
}

void ForgetTemporaryFile(const TerminationHold&, int slot) {
  TheRegistry().Files.erase(slot);
}

void SetProgressLineDescriptor(int descriptor) {
  progressDescriptor.store(descriptor);
}

}  // namespace lumivane
