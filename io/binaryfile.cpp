#include "io/binaryfile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "io/termination.h"

namespace lumivane {

BinaryFile::~BinaryFile() {
  Close();
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      error_(other.error_.load()),
      temporaryPath_(std::exchange(other.temporaryPath_, {})),
      targetPath_(std::exchange(other.targetPath_, {})),
      targetMode_(other.targetMode_),
      cleanupSlot_(std::exchange(other.cleanupSlot_, -1)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::exchange(other.descriptor_, -1);
    error_ = other.error_.load();
    temporaryPath_ = std::exchange(other.temporaryPath_, {});
    targetPath_ = std::exchange(other.targetPath_, {});
    targetMode_ = other.targetMode_;
    cleanupSlot_ = std::exchange(other.cleanupSlot_, -1);
  }
  return *this;
}

BinaryFile BinaryFile::OpenForReading(const std::string& path) {
  // Only regular files are images. Opening without blocking keeps a FIFO from
  // waiting for a writer; a folder, a FIFO or a device is then refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return BinaryFile(-1, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return BinaryFile(-1, error);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return BinaryFile(fd, 0);
}

BinaryFile BinaryFile::CreateForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return BinaryFile(fd, fd < 0 ? errno : 0);
}

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

}  // namespace

BinaryFile BinaryFile::CreateOutput(const std::string& path) {
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
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
  // The rename replaces the file that the links lead to, keeping the links.
  const std::string target = FollowLinks(path);
  if (target.empty()) return BinaryFile(-1, ELOOP);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size());
  if (name.empty()) return BinaryFile(-1, EISDIR);
  // Hidden, unique and created exclusively; a long name is cut to stay a valid name.
  std::string temporary = folder + "." + name.substr(0, 200) + ".XXXXXX";
  // A terminating signal that comes before the file is registered for removal
  // waits until it is.
  sigset_t terminating, previous;
  sigemptyset(&terminating);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&terminating, signalNumber);
  ::pthread_sigmask(SIG_BLOCK, &terminating, &previous);
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  const int error = errno;
  const int slot = fd < 0 ? -1 : RegisterTemporaryFile(temporary.c_str());
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) return BinaryFile(-1, error);
  BinaryFile file(fd, 0);
  file.temporaryPath_ = temporary;
  file.targetPath_ = target;
  file.targetMode_ = exists ? (info.st_mode & 0777u) : NewFileMode();
  file.cleanupSlot_ = slot;
  return file;
}

bool BinaryFile::Commit() {
  if (descriptor_ < 0) {
    error_ = EBADF;
    return false;
  }
  if (!temporaryPath_.empty()) {
    if (::fchmod(descriptor_, targetMode_) != 0 || ::fdatasync(descriptor_) != 0 ||
        ::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
      error_ = errno;
      Discard();
      return false;
    }
    ForgetTemporaryFile(std::exchange(cleanupSlot_, -1));
    temporaryPath_.clear();
  }
  Close();
  return true;
}

void BinaryFile::Discard() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    descriptor_ = -1;
  }
  if (!temporaryPath_.empty()) {
    ::unlink(temporaryPath_.c_str());
    ForgetTemporaryFile(std::exchange(cleanupSlot_, -1));
    temporaryPath_.clear();
  }
}

void BinaryFile::Close() {
  if (!temporaryPath_.empty()) {
    Discard();
    return;
  }
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    descriptor_ = -1;
  }
}

std::size_t BinaryFile::Read(void* destination, std::size_t count) {
  if (descriptor_ < 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(descriptor_, out + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      break;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::size_t BinaryFile::ReadAt(void* destination, std::size_t count, std::uint64_t offset) {
  if (descriptor_ < 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(descriptor_, out + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

template <typename Put>
bool BinaryFile::WriteAll(const void* source, std::size_t count, Put put) {
  if (descriptor_ < 0) {
    error_ = EBADF;
    return false;
  }
  const auto* in = static_cast<const unsigned char*>(source);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t written = put(in + done, count - done, done);
    if (written < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    if (written == 0) {
      error_ = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool BinaryFile::Write(const void* source, std::size_t count) {
  return WriteAll(source, count, [this](const void* from, std::size_t bytes, std::size_t) {
    return ::write(descriptor_, from, bytes);
  });
}

bool BinaryFile::WriteAt(const void* source, std::size_t count, std::uint64_t offset) {
  return WriteAll(source, count,
                  [this, offset](const void* from, std::size_t bytes, std::size_t done) {
                    const ssize_t written =
                        ::pwrite(descriptor_, from, bytes, static_cast<off_t>(offset + done));
                    // A pipe or terminal has no positions: its bytes go out in call order.
                    if (written < 0 && errno == ESPIPE) return ::write(descriptor_, from, bytes);
                    return written;
                  });
}

bool BinaryFile::IsRegularFile() const {
  struct stat status {};
  return descriptor_ >= 0 && ::fstat(descriptor_, &status) == 0 && S_ISREG(status.st_mode);
}

bool BinaryFile::Seek(std::uint64_t offset) {
  if (descriptor_ < 0) return false;
  if (::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

std::uint64_t BinaryFile::Position() const {
  if (descriptor_ < 0) return 0;
  const off_t at = ::lseek(descriptor_, 0, SEEK_CUR);
  return at < 0 ? 0 : static_cast<std::uint64_t>(at);
}

std::optional<std::uint64_t> BinaryFile::Size() const {
  struct stat info {};
  if (descriptor_ < 0 || ::fstat(descriptor_, &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool BinaryFile::SameFileAs(const BinaryFile& other) const {
  struct stat mine {
  }, theirs{};
  if (descriptor_ < 0 || other.descriptor_ < 0) return false;
  if (::fstat(descriptor_, &mine) != 0 || ::fstat(other.descriptor_, &theirs) != 0) return false;
  return mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

bool BinaryFile::SameFileAs(const std::string& path) const {
  struct stat mine {
  }, theirs{};
  if (descriptor_ < 0) return false;
  if (::fstat(descriptor_, &mine) != 0 || ::stat(path.c_str(), &theirs) != 0) return false;
  return mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

std::optional<std::size_t> BinaryFile::CopyTo(BinaryFile& to, std::uint64_t from,
                                              std::size_t count) {
  if (descriptor_ < 0 || to.descriptor_ < 0) return std::nullopt;
  auto offset = static_cast<off_t>(from);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t copied =
        ::copy_file_range(descriptor_, &offset, to.descriptor_, nullptr, count - done, 0);
    if (copied < 0) {
      if (errno == EINTR) continue;
      if (done == 0) return std::nullopt;
      break;
    }
    if (copied == 0) {
      // Some file systems report no bytes rather than an error: let read() judge.
      if (done == 0) return std::nullopt;
      break;
    }
    done += static_cast<std::size_t>(copied);
  }
  return done;
}

std::string BinaryFile::ErrorText() const {
  return error_ ? std::strerror(error_) : "";
}

bool RemoveFile(const std::string& path) {
  if (path.empty()) return false;
  // An output named by a symbolic link was written through it: the partial
  // output is the file the link leads to, not the link.
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  const std::string target = error ? path : resolved.string();
  // Only a regular file can be a partial output; a device such as /dev/full
  // chosen as the output must survive a failed job.
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return ::unlink(target.c_str()) == 0;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(path, error).string();
  if (error) return path;
  std::vector<std::string> parts;
  std::string result;
  std::size_t from = 1;
  while (from <= absolute.size()) {
    std::size_t end = absolute.find('/', from);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(from, end - from);
    from = end + 1;
    if (part.empty() || part == ".") continue;
    struct stat info {};
    if (part == ".." && !parts.empty() && parts.back() != ".." &&
        ::lstat(result.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      // The folder is real, not a link: its ".." is the text before it.
      result.resize(result.size() - parts.back().size() - 1);
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
    result += "/" + part;
  }
  // A trailing slash says "a folder": keep it for the open to judge.
  if (absolute.back() == '/' && !result.empty()) result += '/';
  return result.empty() ? "/" : result;
}

}  // namespace lumivane
