// A raw byte file over POSIX descriptors. Move-only; closes itself. An output
// made by CreateOutput replaces the file at its path only when committed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lumivane {

class BinaryFile {
 public:
  BinaryFile() = default;
  ~BinaryFile();
  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  // Input files are never opened for writing.
  static BinaryFile OpenForReading(const std::string& path);
  // Creates the file or truncates it to 0 bytes.
  static BinaryFile CreateForWriting(const std::string& path);
  // A job's output. When `path` leads (through any symbolic links) to a regular
  // file or to nothing yet, the bytes go to a new temporary file in its
  // folder, readable by its owner alone, which takes the file's place only at
  // Commit(): until then the old file is untouched. Where the file system has
  // unnamed files (O_TMPFILE) the temporary file has no name until Commit()
  // links it into place, so that not even SIGKILL or a power cut leaves a part
  // of it behind; elsewhere it has a hidden name beside the output, removed on
  // failure and by the termination cleanup. A read-only file is refused, as an
  // in-place write would be. A file that has no name itself (an unnamed file
  // reached through /proc/self/fd) is written in place: no one else sees it.
  // Anything else (a FIFO, a terminal, a device) is opened write-only as it
  // is, without waiting for a reader: a FIFO that nobody reads fails at once
  // (ENXIO).
  static BinaryFile CreateOutput(const std::string& path);

  // Makes the written bytes the output: gives the temporary file the mode of
  // the file it replaces (or of a new file), flushes it to the disk and links
  // or renames it over the output, then closes. On failure the temporary file
  // goes, the old output stays, and ErrorNumber() tells why. Other files just
  // close.
  bool Commit();
  // Closes and removes an uncommitted temporary file; the output stays as it
  // was. Close() and the destructor do the same to an output never committed.
  void Discard();
  // The open descriptor, for a library that writes through its own calls
  // (fdopen(dup(Descriptor()), "wb"), say); -1 when closed.
  int Descriptor() const { return descriptor_; }

  bool IsOpen() const { return descriptor_ >= 0; }
  // A regular file, where writes at positions may come from several threads
  // in any order.
  bool IsRegularFile() const;
  void Close();

  // Reads until `count` bytes or the end of the file; returns the bytes read.
  std::size_t Read(void* destination, std::size_t count);
  // Reads until `count` bytes or the end of the file from `offset`, leaving the
  // position and ErrorNumber() alone, so that several threads may read one
  // file at once. Fewer bytes than `count`: the file ended or could not be read.
  std::size_t ReadAt(void* destination, std::size_t count, std::uint64_t offset);
  // Writes all `count` bytes or returns false (see ErrorNumber()).
  bool Write(const void* source, std::size_t count);
  // The same at `offset`, leaving the position where it was. A pipe or a
  // terminal has no positions: there the bytes are written in call order.
  bool WriteAt(const void* source, std::size_t count, std::uint64_t offset);
  bool Seek(std::uint64_t offset);
  std::uint64_t Position() const;
  std::optional<std::uint64_t> Size() const;
  // Same device and inode: the same file, whatever the path.
  bool SameFileAs(const BinaryFile& other) const;
  bool SameFileAs(const std::string& path) const;

  // Copies up to `count` bytes from offset `from` of this file to `to` at its
  // position, inside the kernel, and moves `to`'s position past them. Returns
  // the bytes copied: fewer at the end of this file or after an error. Nothing
  // when the kernel copied nothing (it cannot copy between these two, or the
  // first attempt failed or met the end): the caller then reads and writes the
  // bytes itself, which tells the reason.
  std::optional<std::size_t> CopyTo(BinaryFile& to, std::uint64_t from, std::size_t count);

  // errno of the last failed operation, 0 if none.
  int ErrorNumber() const { return error_; }
  std::string ErrorText() const;

 private:
  explicit BinaryFile(int descriptor, int error) : descriptor_(descriptor), error_(error) {}
  // Writes all `count` bytes through put(data, bytes, done), retrying after
  // signals and partial writes.
  template <typename Put>
  bool WriteAll(const void* source, std::size_t count, Put put);
  int descriptor_ = -1;
  // Atomic: writes at positions may fail on several threads at once.
  std::atomic<int> error_ = 0;
  // Commits and discards of outputs written beside their targets.
  bool CommitUnnamed();
  bool CommitNamed();
  // Set while an output awaits Commit(); temporaryPath_ stays empty for an
  // unnamed temporary file.
  std::string temporaryPath_;
  std::string targetPath_;
  unsigned targetMode_ = 0;
  int cleanupSlot_ = -1;
};

bool RemoveFile(const std::string& path);
// The absolute form of `path`, as a file dialog returns it: "." and repeated
// slashes dropped, and "name/.." only where name is a real folder, since the
// kernel resolves ".." after a symbolic link from the link's target.
std::string AbsolutePath(const std::string& path);

}  // namespace lumivane
