// The outputs of BinaryFile: written to a temporary file that takes the
// output's place only when the job is done.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "io/binaryfile.h"
#include "io/termination.h"

namespace lumivane {

namespace {

// The file `path` leads to: symbolic links in its last part followed as open()
// follows them, the folders left for the kernel to resolve. Empty after too
// many links (a loop).
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (length <= 0) return path;
    const std::string link(target.data(), static_cast<std::size_t>(length));
    // A relative link is relative to the folder that holds it.
    const std::size_t slash = path.rfind('/');
    path =
        link.front() == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  return {};
}

// The permission bits a new file gets, read without changing the process's
// umask, which other threads may be using.
unsigned NewFileMode() {
  unsigned mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(status);
  }
  return 0666u & ~mask;
}

std::string ProcPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// An unnamed file in `folder`, or -1 where the file system has none (or
// /proc, through which it is linked, is missing); the caller then makes a
// named one, which also reports any other reason.
int CreateUnnamed(const std::string& folder) {
  const int fd =
      ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (::access(ProcPath(fd).c_str(), F_OK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A hidden name beside `target` that no file has: ".name.XXXXXX".
std::string HiddenName(const std::string& folder, const std::string& name) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::minstd_rand random(std::random_device{}());
  std::string hidden = folder + "." + name.substr(0, 200) + ".";
  for (int i = 0; i < 6; ++i) hidden += kLetters[random() % (sizeof kLetters - 1)];
  return hidden;
}

// Gives the unnamed file `descriptor` the name `path`, which must be free.
int LinkUnnamed(int descriptor, const std::string& path) {
  if (::linkat(AT_FDCWD, ProcPath(descriptor).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) ==
      0)
    return 0;
  const int error = errno;
  // Without /proc, AT_EMPTY_PATH links the descriptor itself, where allowed.
  if (error == ENOENT && ::linkat(descriptor, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
    return 0;
  return error;
}

}  // namespace

BinaryFile BinaryFile::CreateOutput(const std::string& path) {
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISREG(info.st_mode) && info.st_nlink == 0) {
    const int fd = ::open(path.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
    return BinaryFile(fd, fd < 0 ? errno : 0);
  }
  if (exists && !S_ISREG(info.st_mode)) {
    // Nothing to replace or truncate; the kernel resolves the path, /dev/stdout
    // included. Read-write would make this process a reader of its own FIFO,
    // which then never fails when the real reader quits.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return BinaryFile(-1, errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return BinaryFile(fd, 0);
  }
  if (exists && ::access(path.c_str(), W_OK) != 0) return BinaryFile(-1, errno);
  // The new file replaces the file that the links lead to, keeping the links.
  const std::string target = FollowLinks(path);
  if (target.empty()) return BinaryFile(-1, ELOOP);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size());
  if (name.empty()) return BinaryFile(-1, EISDIR);
  const unsigned mode = exists ? (info.st_mode & 0777u) : NewFileMode();
  if (const int fd = CreateUnnamed(folder); fd >= 0) {
    BinaryFile file(fd, 0);
    file.targetPath_ = target;
    file.targetMode_ = mode;
    return file;
  }
  // Hidden, unique and created exclusively; a long name is cut to stay a valid name.
  std::string temporary = folder + "." + name.substr(0, 200) + ".XXXXXX";
  const TerminationHold hold;
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return BinaryFile(-1, errno);
  BinaryFile file(fd, 0);
  file.temporaryPath_ = temporary;
  file.targetPath_ = target;
  file.targetMode_ = mode;
  file.cleanupSlot_ = RegisterTemporaryFile(hold, temporary);
  return file;
}

bool BinaryFile::Commit() {
  if (descriptor_ < 0) {
    error_ = EBADF;
    return false;
  }
  if (!targetPath_.empty()) {
    if (::fchmod(descriptor_, targetMode_) != 0 || ::fdatasync(descriptor_) != 0) {
      error_ = errno;
      Discard();
      return false;
    }
    if (!(temporaryPath_.empty() ? CommitUnnamed() : CommitNamed())) {
      Discard();
      return false;
    }
    targetPath_.clear();
  }
  Close();
  return true;
}

bool BinaryFile::CommitUnnamed() {
  // A terminating signal is held off while a name exists that is not the output's.
  const TerminationHold hold;
  // A new output takes its name at once: no other name ever exists.
  int error = LinkUnnamed(descriptor_, targetPath_);
  if (error == 0) return true;
  if (error != EEXIST) {
    error_ = error;
    return false;
  }
  // An old output is replaced by a rename, which needs a name to rename from.
  const std::size_t slash = targetPath_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100 && error == EEXIST;) {
    const std::string hidden = HiddenName(folder, targetPath_.substr(folder.size()));
    error = LinkUnnamed(descriptor_, hidden);
    if (error == EEXIST) {
      ++attempt;
      continue;
    }
    if (error != 0) break;
    if (::rename(hidden.c_str(), targetPath_.c_str()) == 0) return true;
    error = errno;
    ::unlink(hidden.c_str());
  }
  error_ = error;
  return false;
}

bool BinaryFile::CommitNamed() {
  const TerminationHold hold;
  if (::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    error_ = errno;
    return false;
  }
  ForgetTemporaryFile(hold, std::exchange(cleanupSlot_, -1));
  temporaryPath_.clear();
  return true;
}

void BinaryFile::Discard() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    descriptor_ = -1;
  }
  if (!temporaryPath_.empty()) {
    const TerminationHold hold;
    ::unlink(temporaryPath_.c_str());
    ForgetTemporaryFile(hold, std::exchange(cleanupSlot_, -1));
    temporaryPath_.clear();
  }
  targetPath_.clear();
}

}  // namespace lumivane
