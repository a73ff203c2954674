// Synthetic high-dynamic-range content for the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "steps/windowsystem.h"

namespace lumivane::bench {

enum class RowForm { Flat, ComponentRuns, OldRuns };

// A scene with smooth sky, textured ground and a sun some thousands of times
// brighter than the rest, as RGBE pixels (4 bytes each), row by row.
void SyntheticRgbeRow(std::uint32_t width, std::uint32_t height, std::uint32_t row,
                      std::uint8_t* pixels);

// One stored row in the given form, appended to `out`.
void EncodeRgbeRow(const std::uint8_t* pixels, std::uint32_t width, RowForm form,
                   std::vector<std::uint8_t>& out);

// A Radiance file of the scene, rows in the per-component run-length form.
bool WriteSyntheticHdr(const std::string& path, std::uint32_t width, std::uint32_t height);

// A window that ignores everything: the cost of the job alone.
class SilentWindow : public WindowSystem {
 public:
  std::string EditText(int) override { return {}; }
  void SetEditText(int, const std::string&) override {}
  int CheckboxState(int) override { return 0; }
  void SetMenuItemEnabled(int, bool) override {}
  void SetProgressRange(std::uint32_t, std::uint32_t) override {}
  void SetProgressPosition(std::uint32_t) override {}
  void InsertLogLine(std::size_t, const std::string&) override {}
  void DeleteLogLine(std::size_t) override {}
  void ClearLog() override {}
  void ShowMessageBox(const std::string&, const std::string&, BoxKind) override {}
  std::string RunFileDialog(const FileDialogRequest&) override { return {}; }
  int FocusedControl() override { return 0; }
  void SetFocusedControl(int) override {}
  void EndModalLoop(int) override {}
};

}  // namespace lumivane::bench
