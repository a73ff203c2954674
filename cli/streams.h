// Standard input and output as image files: "-" on the command line, spooled
// through temporary files that are removed on every way out.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace lumivane {

// The process's three streams and what they are connected to.
struct ConsoleStreams {
  std::istream& In;
  std::ostream& Out;
  std::ostream& Err;
  bool InIsRegularFile = false;  // a file redirected in: readable, and seekable, by name
  bool OutIsTerminal = false;
  bool ErrIsTerminal = false;
  bool InIsFolder = false;  // a folder redirected in, which reads as nothing
};

// What messages call the streams, whatever file stands for them.
inline constexpr const char* kStandardInputName = "standard input";
inline constexpr const char* kStandardOutputName = "standard output";

// "-", or the standard stream's own name.
bool NamesStandardInput(const std::string& path);
bool NamesStandardOutput(const std::string& path);

// A file of its own in $TMPDIR (or /tmp). Where the file system allows, it has
// no name (O_TMPFILE) and is reached as /proc/self/fd/N while this lives, so
// that not even SIGKILL leaves it behind; elsewhere it is named, removed when
// this goes and by the termination cleanup when a signal ends the process.
class TemporaryFile {
 public:
  // `suffix` ends a name (".tif"), where the file has one.
  explicit TemporaryFile(const std::string& suffix);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Empty when it could not be made; Error() then says why.
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

  // Copies `from` into the file; false with Error() set when it cannot.
  bool Fill(std::istream& from);
  // Copies the whole file to `to`; false with Error() set when it cannot.
  bool CopyTo(std::ostream& to);

 private:
  int descriptor_ = -1;  // an unnamed file's
  std::string path_;
  std::string error_;
  int slot_ = -1;  // a named file's
};

// "-" as an input: a file redirected in is read by name, anything else is
// kept in a temporary file first (standard input can be read only once).
class StandardInput {
 public:
  explicit StandardInput(const ConsoleStreams& streams) : streams_(streams) {}

  // The path to read `name` from; false, after a message on `err`, when
  // standard input cannot be kept.
  bool Resolve(const std::string& name, std::string* path, std::ostream& err);

 private:
  const ConsoleStreams& streams_;
  std::optional<TemporaryFile> spool_;
};

}  // namespace lumivane
