// Float TIFFs (either byte order, any tags and strips) and PFMs built in memory.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivane::testing {

using Bytes = std::vector<std::uint8_t>;

// Pixels as R, G, B floats, rows top to bottom.
struct FloatImage {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<float> Values;
};

// A width x height image of distinct, asymmetric values (row y brighter than row y + 1).
FloatImage GradientImage(std::uint32_t width, std::uint32_t height);

Bytes FloatBytes(float value, bool intelOrder);
// The 12-byte pixels of rows [first, first + count), least significant byte first
// unless told otherwise.
Bytes PixelRows(const FloatImage& image, std::uint32_t first, std::uint32_t count,
                bool intelOrder = true);

// A TIFF assembled entry by entry: the 8-byte file header, the blocks appended,
// then the IFD (entries in the order added) at the end.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool intelOrder);

  Bytes Short(std::uint16_t value) const;
  Bytes Long(std::uint32_t value) const;
  Bytes Shorts(const std::vector<std::uint16_t>& values) const;
  Bytes Longs(const std::vector<std::uint32_t>& values) const;

  // Appends bytes to the file; returns their offset.
  std::uint32_t Append(const Bytes& bytes);
  // An entry with its 4-byte value field exactly as given (shorter is zero-padded).
  void Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, const Bytes& valueField);
  // An entry whose data is stored inline when it fits 4 bytes, else appended and
  // pointed to.
  void Data(std::uint16_t tag, std::uint16_t type, std::uint32_t count, const Bytes& data);

  Bytes Build() const;
  // Builds with the IFD offset overwritten.
  Bytes BuildWithIfdOffset(std::uint32_t offset) const;

 private:
  bool intel_;
  Bytes body_;
  std::vector<std::array<std::uint8_t, 12>> entries_;
};

struct FloatTiffOptions {
  bool IntelOrder = true;
  // 0: one strip holding every row.
  std::uint32_t RowsPerStrip = 0;
  // Bytes of filler between strips (0: contiguous).
  std::uint32_t StripGap = 0;
  // Store the strips last one first (their table still lists them in row order).
  bool StripsReversed = false;
};

// A well-formed 96-bit float RGB TIFF: ImageWidth, ImageLength, BitsPerSample,
// Compression, Photometric, StripOffsets, SamplesPerPixel, RowsPerStrip,
// StripByteCounts, PlanarConfiguration, SampleFormat.
Bytes FloatTiff(const FloatImage& image, const FloatTiffOptions& options = {});

// A PFM: `header` verbatim, then the rows bottom row first.
Bytes Pfm(const std::string& header, const FloatImage& image, bool intelOrder);
// "PF\n<w> <h>\n-1.0\n" (or "1.0" for most significant byte first) and the rows.
Bytes StandardPfm(const FloatImage& image, bool intelOrder);

// Reads back a PFM written in least-significant-byte-first order: rows top first.
FloatImage ParseLittleEndianPfm(const Bytes& file);

}  // namespace lumivane::testing

#include "steps/session.h"
#include "tests/support/recordingwindow.h"

namespace lumivane::testing {

// A session over a recording window with a clock standing still at midnight.
struct StepHarness {
  RecordingWindow Window;
  lumivane::Session Steps{Window};
  StepHarness() {
    Steps.Clock = [] { return 0.0L; };
  }
};

}  // namespace lumivane::testing

#include <functional>

namespace lumivane::testing {

struct JobRun {
  std::vector<std::string> Log;
  std::vector<RecordedBox> Boxes;
  std::vector<RecordedProgress> Progress;
  std::string FailureMessage;
  bool OutputExists = false;
  Bytes Output;
};

// One job command through the dispatcher, its open and save dialogs answered
// with `input` and `output`; `duringSave` runs while the save dialog is open.
JobRun RunJobCommand(int commandId, const std::string& input, const std::string& output,
                     const JobSettings& settings = {},
                     const std::function<void()>& duringSave = {});

// The 308-byte header of a TIFF this program wrote, dropped.
Bytes TiffPixels(const Bytes& file);

}  // namespace lumivane::testing
