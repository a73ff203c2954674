#include "fuzz/fuzzharness.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace lumivane::fuzzing {

MemoryFile::MemoryFile(const char* name) : descriptor_(::memfd_create(name, MFD_CLOEXEC)) {
  LUMIVANE_FUZZ_CHECK(descriptor_ >= 0);
  path_ = "/proc/self/fd/" + std::to_string(descriptor_);
}

MemoryFile::~MemoryFile() {
  ::close(descriptor_);
}

void MemoryFile::Assign(const std::uint8_t* data, std::size_t size) {
  LUMIVANE_FUZZ_CHECK(::ftruncate(descriptor_, 0) == 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::pwrite(descriptor_, data + done, size - done, static_cast<off_t>(done));
    LUMIVANE_FUZZ_CHECK(put > 0);
    done += static_cast<std::size_t>(put);
  }
}

std::uint64_t MemoryFile::Size() const {
  struct stat info {};
  LUMIVANE_FUZZ_CHECK(::fstat(descriptor_, &info) == 0);
  return static_cast<std::uint64_t>(info.st_size);
}

std::vector<std::uint8_t> MemoryFile::Contents() const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Size()));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(descriptor_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    LUMIVANE_FUZZ_CHECK(got > 0);
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

void CheckReaderContract(const Session& session, bool accepted, std::uint64_t fileSize) {
  const JobContext& context = session.Context;
  if (!accepted) {
    LUMIVANE_FUZZ_CHECK(!context.InputFile.IsOpen());
    LUMIVANE_FUZZ_CHECK(!context.FailureMessage.empty());
    return;
  }
  // A job may start: a size this file set, that the 32-bit pixel counts hold,
  // and the input open inside the file.
  LUMIVANE_FUZZ_CHECK(context.InputFile.IsOpen());
  LUMIVANE_FUZZ_CHECK(context.ImageWidth > 0 && context.ImageHeight > 0);
  LUMIVANE_FUZZ_CHECK(std::uint64_t{context.ImageWidth} * context.ImageHeight <=
                      std::numeric_limits<std::uint32_t>::max());
  LUMIVANE_FUZZ_CHECK(context.InputFile.Position() <= fileSize);
}

}  // namespace lumivane::fuzzing
