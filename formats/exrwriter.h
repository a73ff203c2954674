// OpenEXR output through the OpenEXR library: one scan-line part, R, G, B.
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
  // 16-bit half channels instead of 32-bit float; floats round to the nearest
  // half, ties to even.
  bool Half = false;
  // The OpenEXR compression number, ZIP (3) unless chosen.
  int Compression = 3;
  // Threads that compress row blocks at once.
  unsigned Threads = 1;
};

// "none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab".
std::optional<int> ExrCompressionFromName(std::string_view name);
// Those names, comma-separated, for usage messages.
std::string ExrCompressionNames();

// Writes the OpenEXR header to `file` (at its position) and returns the sink
// for the rows; nothing, with `error` set, when the library refuses.
std::unique_ptr<FloatRowSink> OpenExrSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, const ExrOptions& options,
                                          std::string& error);

}  // namespace lumivane
