// A raw byte file over POSIX descriptors. Move-only; closes itself.
#pragma once

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

  bool IsOpen() const { return descriptor_ >= 0; }
  void Close();

  // Reads until `count` bytes or the end of the file; returns the bytes read.
  std::size_t Read(void* destination, std::size_t count);
  // Reads until `count` bytes or the end of the file from `offset`, leaving the
  // position and ErrorNumber() alone, so that several threads may read one
  // file at once. Fewer bytes than `count`: the file ended or could not be read.
  std::size_t ReadAt(void* destination, std::size_t count, std::uint64_t offset);
  // Writes all `count` bytes or returns false (see ErrorNumber()).
  bool Write(const void* source, std::size_t count);
  // The same at `offset`, leaving the position where it was.
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
  int error_ = 0;
};

bool RemoveFile(const std::string& path);
// The absolute form of `path`, as a file dialog returns it.
std::string AbsolutePath(const std::string& path);

}  // namespace lumivane
