#include "cli/streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/termination.h"

namespace lumivane {

bool NamesStandardInput(const std::string& path) {
  return path == "-" || path == "/dev/stdin";
}

bool NamesStandardOutput(const std::string& path) {
  return path == "-" || path == "/dev/stdout";
}

TemporaryFile::TemporaryFile(const std::string& suffix) {
  const char* variable = std::getenv("TMPDIR");
  const std::string folder = variable && *variable ? variable : "/tmp";
  // An unnamed file, reached through /proc while it is open, leaves nothing
  // behind however the process ends; the jobs open it by that path.
  const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    const std::string path = "/proc/self/fd/" + std::to_string(unnamed);
    if (::access(path.c_str(), R_OK | W_OK) == 0) {
      descriptor_ = unnamed;
      path_ = path;
      return;
    }
    ::close(unnamed);
  }
  const std::string pattern = folder + "/lumivane-XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const TerminationHold hold;
  const int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) {
    error_ = "cannot make a temporary file in " + folder + ": " + std::strerror(errno);
    return;
  }
  ::close(fd);
  path_ = name.data();
  slot_ = RegisterTemporaryFile(hold, path_);
}

TemporaryFile::~TemporaryFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
  if (slot_ < 0) return;
  const TerminationHold hold;
  ::unlink(path_.c_str());
  ForgetTemporaryFile(hold, slot_);
}

bool TemporaryFile::Fill(std::istream& from) {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  while (ok && from) {
    from.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(from.gcount());
    for (std::size_t done = 0; ok && done < got;) {
      const ssize_t put = ::write(fd, buffer.data() + done, got - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        error_ = std::strerror(errno);
        ok = false;
      } else {
        done += static_cast<std::size_t>(put);
      }
    }
  }
  if (ok && from.bad()) {
    error_ = "reading standard input failed";
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error_ = std::strerror(errno);
    ok = false;
  }
  return ok;
}

bool TemporaryFile::CopyTo(std::ostream& to) {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error_ = std::strerror(errno);
      ok = false;
    }
    if (got <= 0) break;
    errno = 0;
    if (!to.write(buffer.data(), got)) {
      error_ = errno != 0 ? std::strerror(errno) : "the stream refused the bytes";
      ok = false;
      break;
    }
  }
  ::close(fd);
  errno = 0;
  if (ok && !to.flush()) {
    error_ = errno != 0 ? std::strerror(errno) : "the stream refused the bytes";
    ok = false;
  }
  return ok;
}

bool StandardInput::Resolve(const std::string& name, std::string* path, std::ostream& err) {
  *path = name;
  if (!NamesStandardInput(name)) return true;
  if (streams_.InIsRegularFile) {
    *path = "/dev/stdin";
    return true;
  }
  if (streams_.InIsFolder) {
    err << "lumivane-cli: cannot read " << kStandardInputName << ": " << std::strerror(EISDIR)
        << '\n';
    return false;
  }
  spool_.emplace("");
  if (spool_->Path().empty()) {
    err << "lumivane-cli: " << spool_->Error() << '\n';
    return false;
  }
  if (!spool_->Fill(streams_.In)) {
    err << "lumivane-cli: cannot keep standard input in a temporary file: " << spool_->Error()
        << '\n';
    return false;
  }
  *path = spool_->Path();
  return true;
}

}  // namespace lumivane
