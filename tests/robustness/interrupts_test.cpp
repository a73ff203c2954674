// Jobs and batches ended by a signal at any moment: SIGINT, SIGTERM, SIGHUP
// and SIGQUIT leave the old outputs and whole new ones, nothing beside them,
// and end the process with the signal; SIGKILL leaves nothing named where the
// file system has unnamed files. Each case runs with unnamed temporary files
// where the file system has them, and with the process's /proc/self/fd hidden
// (so that they cannot be linked and named ones are used instead) where user
// namespaces allow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr int kFiles = 40;

bool CanForceNamedTemporaries() {
  static const bool can = testing::RunCommand(
                              "unshare -rm sh -c 'mount -t tmpfs none /proc/$$/fd' "
                              ">/dev/null 2>&1 </dev/null") == 0;
  return can;
}

struct Start {
  std::vector<std::string> Args;
  std::string TemporaryFolder;
  bool NamedTemporaries = false;
  int In = -1;           // standard input; /dev/null when -1
  bool PipeOut = false;  // standard output on a pipe to read, else /dev/null
  const char* Threads = "2";
};

struct Child {
  pid_t Pid = -1;
  int Out = -1;
};

// lumivane-cli started as from a terminal: the signals it is to handle are
// not inherited as ignored, nor blocked.
Child StartCli(const Start& start) {
  int out[2] = {-1, -1};
  if (start.PipeOut && ::pipe2(out, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid != 0) {
    if (start.PipeOut) ::close(out[1]);
    return {pid, out[0]};
  }
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signalNumber, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::setenv("LUMIVANE_THREADS", start.Threads, 1);
  ::setenv("TMPDIR", start.TemporaryFolder.c_str(), 1);
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(start.In >= 0 ? start.In : null, STDIN_FILENO);
  ::dup2(start.PipeOut ? out[1] : null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  std::vector<std::string> words;
  // The mount covers the descriptors of this process alone, which exec keeps.
  if (start.NamedTemporaries)
    words = {"unshare", "-rm", "sh", "-c", "mount -t tmpfs none /proc/$$/fd && exec \"$0\" \"$@\""};
  words.push_back(LUMIVANE_CLI_PATH);
  words.insert(words.end(), start.Args.begin(), start.Args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// Reads the child's standard output until a line that starts with `prefix`.
bool AwaitLine(int out, const std::string& prefix) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(out, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.starts_with(prefix) || text.find("\n" + prefix) != std::string::npos) return true;
  }
  return false;
}

// Waits until `count` files whose names do not start with a dot have been
// created or renamed into the watched folder, or the child has ended.
void AwaitOutputs(int watch, int count, pid_t child) {
  alignas(inotify_event) char buffer[8192];
  int seen = 0;
  while (seen < count) {
    pollfd ready{watch, POLLIN, 0};
    if (::poll(&ready, 1, 100) == 0) {
      siginfo_t ended{};
      if (::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          ended.si_pid == child)
        return;
      continue;
    }
    const ssize_t got = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && event->name[0] != '.') ++seen;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A TIFF this program wrote, without its DateTime text (bytes 240 to 259).
Bytes WithoutDateTime(Bytes file) {
  if (file.size() >= 260) file.erase(file.begin() + 240, file.begin() + 260);
  return file;
}

// 40 small inputs of one verb, and the outputs an uninterrupted run makes.
struct BatchCase {
  std::string Verb;
  std::vector<std::string> Options;  // before the inputs
  std::string Extension;
  std::vector<std::string> Inputs;
  std::map<std::string, Bytes> Whole;  // output name: bytes, a TIFF's without its clock
};

BatchCase MakeBatch(const TempDir& dir, bool toneMap) {
  BatchCase batch;
  batch.Verb = toneMap ? "tonemap" : "convert";
  batch.Extension = toneMap ? "tif" : "exr";
  const std::string folder = dir.File(batch.Verb + "-in");
  fs::create_directories(folder);
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = folder + "/f" + std::to_string(10 + i);
    if (toneMap) {
      WriteBytes(name + ".hdr", testing::HdrFile(testing::PatternImage(64, 48, 1 + i),
                                                 testing::RgbeRowForm::ComponentRuns));
      batch.Inputs.push_back(name + ".hdr");
    } else {
      testing::FloatImage image = testing::GradientImage(64, 48);
      for (float& value : image.Values) value *= static_cast<float>(i + 1);
      WriteBytes(name + ".pfm", testing::StandardPfm(image, true));
      batch.Inputs.push_back(name + ".pfm");
    }
  }
  batch.Options = {batch.Verb, "-q", "-o"};
  const std::string reference = dir.File(batch.Verb + "-whole");
  fs::create_directories(reference);
  std::string command = testing::Quote(LUMIVANE_CLI_PATH);
  for (const std::string& word : batch.Options) command += " " + word;
  command += " " + testing::Quote(reference) + (toneMap ? "" : " --to exr");
  for (const std::string& input : batch.Inputs) command += " " + testing::Quote(input);
  EXPECT_EQ(testing::RunCommand(command + " </dev/null"), 0);
  for (const std::string& name : Names(reference))
    batch.Whole[name] = WithoutDateTime(ReadBytes(reference + "/" + name));
  EXPECT_EQ(batch.Whole.size(), static_cast<std::size_t>(kFiles));
  return batch;
}

std::vector<std::string> BatchArgs(const BatchCase& batch, const std::string& out) {
  std::vector<std::string> args = batch.Options;
  args.push_back(out);
  if (batch.Extension == "exr") args.insert(args.end(), {"--to", "exr"});
  args.insert(args.end(), batch.Inputs.begin(), batch.Inputs.end());
  return args;
}

// Every file left in `out` is a whole output, or an old one its job did not replace.
void ExpectOnlyWholeOutputs(const BatchCase& batch, const fs::path& out, const Bytes& old) {
  for (const std::string& name : Names(out)) {
    const auto whole = batch.Whole.find(name);
    ASSERT_NE(whole, batch.Whole.end()) << "left behind: " << name;
    const Bytes bytes = ReadBytes((out / name).string());
    EXPECT_TRUE(WithoutDateTime(bytes) == whole->second || bytes == old)
        << name << " is not whole (" << bytes.size() << " bytes)";
  }
}

TEST(Interrupts, BatchesEndedAtRandomMomentsLeaveOnlyWholeOutputs) {
  TempDir dir;
  const BatchCase batches[2] = {MakeBatch(dir, false), MakeBatch(dir, true)};
  const int signals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  const fs::path out = dir.File("out"), tmp = dir.File("tmp"), work = dir.File("work");
  const Bytes old(10, 'O');
  std::mt19937 random(2024);
  int interrupted = 0;
  for (int trial = 0; trial < 50; ++trial) {
    const BatchCase& batch = batches[trial % 2];
    const int signalNumber = signals[(trial / 2) % 4];
    const bool namedTemporaries = (trial / 8) % 2 == 1 && CanForceNamedTemporaries();
    SCOPED_TRACE("trial " + std::to_string(trial) + ": " + batch.Verb + ", signal " +
                 std::to_string(signalNumber) +
                 (namedTemporaries ? ", named temporary files" : ""));
    for (const fs::path& folder : {out, tmp, work}) {
      fs::remove_all(folder);
      fs::create_directories(folder);
    }
    // Some of the outputs are there already, for the jobs to replace.
    for (const auto& [name, bytes] : batch.Whole)
      if (name[2] % 3 == 0) WriteBytes((out / name).string(), old);
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, out.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const fs::path here = fs::current_path();
    fs::current_path(work);
    const Child child = StartCli({BatchArgs(batch, out.string()), tmp.string(), namedTemporaries});
    fs::current_path(here);
    ASSERT_GT(child.Pid, 0);
    AwaitOutputs(watch, std::uniform_int_distribution<int>(1, kFiles - 2)(random), child.Pid);
    ::close(watch);
    ::usleep(std::uniform_int_distribution<unsigned>(0, 3000)(random));
    ::kill(child.Pid, signalNumber);
    int status = 0;
    ASSERT_EQ(::waitpid(child.Pid, &status, 0), child.Pid);
    // A job may have finished the batch before the signal came.
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signalNumber);
      ++interrupted;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ExpectOnlyWholeOutputs(batch, out, old);
    EXPECT_TRUE(fs::is_empty(tmp));
    // No core file either.
    EXPECT_TRUE(fs::is_empty(work));
  }
  EXPECT_GT(interrupted, 0);
}

TEST(Interrupts, SignalsMidJobLeaveTheOldOutputAndEndTheProcess) {
  TempDir dir;
  const std::string in = dir.File("in.pfm"), out = dir.File("out.tif");
  WriteBytes(in, testing::StandardPfm(testing::GradientImage(1024, 1024), true));
  fs::create_directories(dir.File("tmp"));
  const Bytes old(1000, 0x5A);
  for (const bool namedTemporaries : {false, true}) {
    if (namedTemporaries && !CanForceNamedTemporaries()) continue;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      SCOPED_TRACE(std::to_string(signalNumber) +
                   (namedTemporaries ? ", named temporary files" : ""));
      int status = 0;
      // A machine busy elsewhere may finish the job between its log line and
      // the signal; that run proves nothing, so try again.
      for (int attempt = 0; attempt < 5; ++attempt) {
        WriteBytes(out, old);
        const Child child =
            StartCli({{"tonemap", in, out}, dir.File("tmp"), namedTemporaries, -1, true, "1"});
        ASSERT_GT(child.Pid, 0);
        // The output is open, its header written, the pixels yet to come.
        EXPECT_TRUE(AwaitLine(child.Out, "IFD written to file "));
        ::kill(child.Pid, signalNumber);
        // Closed only then: a log line into a closed pipe would fail the job.
        ASSERT_EQ(::waitpid(child.Pid, &status, 0), child.Pid);
        ::close(child.Out);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) break;
      }
      ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
      EXPECT_EQ(WTERMSIG(status), signalNumber);
      EXPECT_EQ(ReadBytes(out), old);
      EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"in.pfm", "out.tif", "tmp"}));
    }
  }
}

TEST(Interrupts, SigkillLeavesNothingNamedWhereFilesCanBeUnnamed) {
  TempDir dir;
  if (!testing::HasUnnamedFiles(dir.Path().string())) GTEST_SKIP() << "no O_TMPFILE here";
  const BatchCase batch = MakeBatch(dir, false);
  const fs::path out = dir.File("out"), tmp = dir.File("tmp");
  std::mt19937 random(99);
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE("batch " + std::to_string(trial));
    for (const fs::path& folder : {out, tmp}) {
      fs::remove_all(folder);
      fs::create_directories(folder);
    }
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, out.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const Child child = StartCli({BatchArgs(batch, out.string()), tmp.string()});
    AwaitOutputs(watch, std::uniform_int_distribution<int>(1, kFiles - 2)(random), child.Pid);
    ::close(watch);
    ::usleep(std::uniform_int_distribution<unsigned>(0, 3000)(random));
    ::kill(child.Pid, SIGKILL);
    ASSERT_EQ(::waitpid(child.Pid, nullptr, 0), child.Pid);
    ExpectOnlyWholeOutputs(batch, out, {});
  }

  // Standard input kept while the job runs: killed halfway, it leaves no copy.
  for (const fs::path& folder : {out, tmp}) {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  const Bytes image = testing::StandardPfm(testing::GradientImage(512, 512), true);
  int in[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  const Child child = StartCli(
      {{"tonemap", "-", (out / "one.tif").string()}, tmp.string(), false, in[0], true, "1"});
  ::close(in[0]);
  for (std::size_t done = 0; done < image.size();) {
    const ssize_t put = ::write(in[1], image.data() + done, image.size() - done);
    ASSERT_GT(put, 0);
    done += static_cast<std::size_t>(put);
  }
  ::close(in[1]);
  EXPECT_TRUE(AwaitLine(child.Out, "IFD written to file "));
  ::kill(child.Pid, SIGKILL);
  ASSERT_EQ(::waitpid(child.Pid, nullptr, 0), child.Pid);
  ::close(child.Out);
  EXPECT_TRUE(fs::is_empty(tmp)) << Names(tmp).front();
  for (const std::string& name : Names(out)) EXPECT_EQ(name, "one.tif");
}

}  // namespace
}  // namespace lumivane
