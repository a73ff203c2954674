// Scratch folders and whole-file helpers for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumivane::testing {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// `text` in single quotes for a shell command line.
std::string Quote(const std::string& text);

// Runs a shell command; returns its exit status and fills `output` with stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveTool(const std::string& name);

// Whether the file system of `folder` makes unnamed files (O_TMPFILE), which
// the outputs and the kept standard input use where they can.
bool HasUnnamedFiles(const std::string& folder);

}  // namespace lumivane::testing
