#include "io/binaryfile.h"

#include <fcntl.h>
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

void BinaryFile::Close() {
  if (!targetPath_.empty()) {
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
