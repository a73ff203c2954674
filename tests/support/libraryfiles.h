// TIFFs and OpenEXR files written through libtiff and OpenEXR in any layout
// the library readers take, and an OpenEXR read through the library's own
// RGBA interface (a path independent of the reader under test).
#pragma once

#include <OpenEXR/ImfHeader.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/floatfiles.h"

namespace lumivane::testing {

struct LibraryTiffOptions {
  std::uint16_t Bits = 32;
  bool Float = true;
  std::uint16_t Compression = 1;  // libtiff's COMPRESSION_* numbers
  std::uint32_t Tile = 0;         // 0: strips
  std::uint32_t RowsPerStrip = 8;
  bool Planar = false;
  bool Grey = false;
  bool Alpha = false;
  bool BigEndian = false;
};

// Writes `image` (grey: its R values) as the options say and returns what a
// reader must give: the values as stored (half-rounded, or integers scaled
// back to 0..1), grey given to R, G and B.
FloatImage WriteLibraryTiff(const std::string& path, const FloatImage& image,
                            const LibraryTiffOptions& options);

struct ExrOptions {
  bool Half = true;
  int Compression = 3;  // Imf::Compression, ZIP
  int Tile = 0;         // 0: scanlines
  int OriginX = 0;      // the data window's top left corner
  int OriginY = 0;
  bool Grey = false;  // one Y channel (its R values)
  bool Alpha = false;
  // A's values, one a pixel; empty: 0.25 everywhere.
  std::vector<float> AlphaValues = {};
  bool Decreasing = false;  // scanline chunks stored bottom first
  // Adds attributes to the header before it is written.
  std::function<void(Imf::Header&)> Attributes = nullptr;
};
FloatImage WriteExr(const std::string& path, const FloatImage& image, const ExrOptions& options);

// Every pixel's R, G, B through Imf::RgbaInputFile, rows top first.
FloatImage ReadExrAsRgba(const std::string& path);

}  // namespace lumivane::testing
