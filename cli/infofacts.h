// What `info` finds in a file: its header as it stands, and statistics of its
// pixels gathered in one pass of bounded memory, read by the readers the jobs
// use, so that what info reads is what a job would read. Of a PNG or JPEG
// file, which no job reads, the header alone: how an output was made.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "formats/exrinfo.h"
#include "formats/formattable.h"
#include "formats/jpeginfo.h"
#include "formats/pfminfo.h"
#include "formats/pnginfo.h"
#include "formats/radianceinfo.h"
#include "formats/readlimits.h"
#include "formats/tiffinfo.h"
#include "imaging/luminance.h"

namespace lumivane {

// One channel's values, as the readers hand them to the jobs.
struct ChannelFacts {
  // Of the finite values only.
  std::uint64_t Finite = 0;
  float Minimum = std::numeric_limits<float>::infinity();
  float Maximum = -std::numeric_limits<float>::infinity();
  double Sum = 0.0;
  // Finite values below zero (-0.0 is not), NaNs, and infinities of either
  // sign: apart, so that together they count the values tone-mapping takes as 0.
  std::uint64_t BelowZero = 0;
  std::uint64_t NaNs = 0;
  std::uint64_t Infinities = 0;

  void Add(float value) {
    if (!std::isfinite(value)) {
      ++(std::isnan(value) ? NaNs : Infinities);
      return;
    }
    ++Finite;
    Sum += value;
    if (value < Minimum) Minimum = value;
    if (value > Maximum) Maximum = value;
    if (value < 0.0f) ++BelowZero;
  }
  std::optional<double> Mean() const {
    if (Finite == 0) return std::nullopt;
    return Sum / static_cast<double>(Finite);
  }
};

// The percentiles the dynamic range is the ratio of.
inline constexpr double kDynamicRangeLowPercent = 0.1;
inline constexpr double kDynamicRangeHighPercent = 99.9;

struct DynamicRange {
  std::uint64_t PositivePixels = 0;
  // Both percentiles, when any pixel has a positive luminance.
  std::optional<double> Low, High;
  std::optional<double> Ratio() const {
    if (!Low || !High || !(*Low > 0.0)) return std::nullopt;
    return *High / *Low;
  }
};

struct FileFacts {
  const FormatRow* Format = nullptr;
  // Whether Channels and Range were gathered: not for a format only written.
  bool PixelsRead = false;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // Nothing for a format without one (Radiance stores bytes).
  std::optional<bool> BigEndian;
  // The header of the file's own format.
  std::optional<RadianceHeaderText> Radiance;
  std::optional<TiffDescription> Tiff;
  std::optional<PfmHeaderText> Pfm;
  std::optional<ExrDescription> Exr;
  // Formats only written: their headers alone, no pixel is read.
  std::optional<PngDescription> Png;
  std::optional<JpegDescription> Jpeg;
  ChannelFacts Channels[3];
  DynamicRange Range;
  // Radiance: the rows whose pixels were all decoded; fewer than Height when
  // the pixel data end early.
  std::optional<std::uint32_t> RowsComplete;
};

// The facts of the file at `path`, or nothing with `why` set. `name` stands
// for the path in `why`. Throws what the readers throw (std::bad_alloc).
std::optional<FileFacts> InspectFile(const std::string& path, const std::string& name,
                                     const ReadLimits& limits, std::string& why);

// Why a header could not be described, if it could not; empty otherwise.
std::string HeaderFailure(const FileFacts& facts);

}  // namespace lumivane
