// What every fuzz target shares: the bytes under test as a file that the
// steps open by path (an in-memory file, no disk), a window system that
// answers the dialogs and keeps the boxes, and a check that stops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "steps/session.h"
#include "steps/windowsystem.h"

namespace lumivane::fuzzing {

// A broken promise of a step: libFuzzer keeps the input that caused it.
#define LUMIVANE_FUZZ_CHECK(condition)                                                   \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// A file in memory (memfd) that keeps its descriptor for the whole run; its
// path opens it again like any regular file.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& Path() const { return path_; }
  void Assign(const std::uint8_t* data, std::size_t size);
  std::uint64_t Size() const;
  std::vector<std::uint8_t> Contents() const;

 private:
  int descriptor_ = -1;
  std::string path_;
};

struct Box {
  std::string Text;
  std::string Title;
  BoxKind Kind;
};

class FuzzWindow : public WindowSystem {
 public:
  std::deque<std::string> DialogAnswers;
  std::vector<Box> Boxes;
  std::size_t LogLines = 0;

  std::string EditText(int) override { return {}; }
  void SetEditText(int, const std::string&) override {}
  int CheckboxState(int) override { return 0; }
  void SetMenuItemEnabled(int, bool) override {}
  void SetProgressRange(std::uint32_t, std::uint32_t) override {}
  void SetProgressPosition(std::uint32_t) override {}
  void InsertLogLine(std::size_t, const std::string&) override { ++LogLines; }
  void DeleteLogLine(std::size_t) override {}
  void ClearLog() override { LogLines = 0; }
  void ShowMessageBox(const std::string& text, const std::string& title, BoxKind kind) override {
    Boxes.push_back({text, title, kind});
  }
  std::string RunFileDialog(const FileDialogRequest&) override {
    if (DialogAnswers.empty()) return {};
    std::string answer = DialogAnswers.front();
    DialogAnswers.pop_front();
    return answer;
  }
  int FocusedControl() override { return 0; }
  void SetFocusedControl(int) override {}
  void EndModalLoop(int) override {}
};

// A session whose clock stands still, so that runs do not depend on the time.
struct FuzzSession {
  FuzzWindow Window;
  Session Steps{Window};
  FuzzSession() {
    Steps.Clock = [] { return 0.0L; };
  }
};

// The promises of a header reader after it returned `accepted` on a file of
// `fileSize` bytes.
void CheckReaderContract(const Session& session, bool accepted, std::uint64_t fileSize);

}  // namespace lumivane::fuzzing
