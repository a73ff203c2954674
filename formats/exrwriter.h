// OpenEXR output through the OpenEXR library: one scan-line part, R, G, B,
// and A when the input's alpha is kept.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

struct ExrOptions {
  // 16-bit half channels (true) or 32-bit float; floats round to the nearest
  // half, ties to even. Unset: half when the input stored halves.
  std::optional<bool> Half;
  // The OpenEXR compression number. Unset: the input's, when it loses nothing
  // for the pixels written, else ZIP (3).
  std::optional<int> Compression;
  // Threads that compress row blocks at once.
  unsigned Threads = 1;
};

// "none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab".
std::optional<int> ExrCompressionFromName(std::string_view name);
// Those names, comma-separated, for usage messages.
std::string ExrCompressionNames();

// The pixel type (of R, G and B; of A) and compression that `options` and the
// input's `kept` call for, with or without an A channel.
bool ExrWritesHalves(const ExrOptions& options, const ImageMetadata& kept);
bool ExrWritesHalfAlpha(const ExrOptions& options, const ImageMetadata& kept);
int ExrCompressionFor(const ExrOptions& options, const ImageMetadata& kept, bool alpha = false);

// Writes the OpenEXR header to `file` (at its position), with the standard
// attributes of `kept` that the input stated, and returns the sink for the
// rows (with an A channel, taking WriteRowsAndAlpha, when `alpha`); nothing,
// with `error` set, when the library refuses.
std::unique_ptr<FloatRowSink> OpenExrSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, const ExrOptions& options,
                                          const ImageMetadata& kept, bool alpha,
                                          std::string& error);

}  // namespace lumivane
