// What the preview window runs on its own, each in a session of its own so
// that the main window's log, settings and running job are left alone: an
// image read small enough to map again at every change of the operator, that
// image mapped, and the full-size job that saves the result.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/readlimits.h"
#include "imaging/previewsampler.h"
#include "steps/session.h"

namespace lumivane {

// The longest side of the image the preview maps at every change.
inline constexpr std::uint32_t kPreviewPictureSide = 1024;

// Linear RGB, rows top first, and what it was made from.
struct PreviewPicture {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<float> Rgb;
  std::uint32_t ImageWidth = 0;
  std::uint32_t ImageHeight = 0;
  std::string Path;
};

// The image at `path` as the tone-map job reads it (the same reader, the
// same colour conversion), averaged down to fit `side` x `side`. Nothing,
// with `error` set, for a file no reader takes.
std::optional<PreviewPicture> LoadPreviewPicture(const std::string& path, std::uint32_t side,
                                                 const ReadLimits& limits, std::string& error);

// `picture` mapped as the tone-map job maps an image of its size with the
// operator `settings` choose.
PreviewImage MapPicture(const PreviewPicture& picture, const JobSettings& settings);

struct FormatRow;

// The tone-mapped outputs "Save as" writes: PNG, JPEG and TIFF.
bool SavedAsFormat(const FormatRow& row);
// Whether the name's extension is one of theirs.
bool SavesAs(const std::string& outputPath);

struct SaveOutcome {
  bool Succeeded = false;
  // The job's success text, or why it failed.
  std::string Message;
};

using ProgressReport =
    std::function<void(std::uint32_t low, std::uint32_t high, std::uint32_t position)>;

// The full-size tone-map job of the command line from `input` to `output`
// (its format by the extension) with `settings`, recording them (Software and
// Description) as the command line does.
SaveOutcome SaveToneMapped(const std::string& input, const std::string& output,
                           const JobSettings& settings, const ProgressReport& progress);

}  // namespace lumivane
