// What a TIFF claims, read through libtiff over a ByteSource, and whether the
// general TIFF reader takes it: the samples it decodes, the limits on pixels
// and buffers, and strips and tiles that the file actually holds. Used by
// tiffrows.cpp only.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "formats/bytesource.h"
#include "formats/readlimits.h"

namespace lumivane {

// libtiff reads through this, so that it sees the already opened file or bytes.
struct ClientHandle {
  ByteSource* Bytes = nullptr;
  std::uint64_t Position = 0;
  // libtiff's first complaint, kept for the message (it says what is wrong in words).
  std::string FirstError;
};

// A libtiff handle over `client`, with libtiff's messages kept instead of
// printed and no single allocation of libtiff's own above the buffer limit.
TIFF* OpenClient(ClientHandle& client, const ReadLimits& limits);

struct TiffDeleter {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffDeleter>;

struct Layout {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t Samples = 1;
  std::uint16_t Bits = 8;
  std::uint16_t Format = SAMPLEFORMAT_UINT;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  std::uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t Compression = COMPRESSION_NONE;
  bool Tiled = false;
  bool Alpha = false;  // an extra sample is alpha
  // The first alpha sample's place among a pixel's samples, and its kind.
  std::uint16_t AlphaSample = 0;
  bool AlphaAssociated = false;
  std::uint32_t TileWidth = 0;
  std::uint32_t TileHeight = 0;
  std::uint32_t RowsPerStrip = 0;

  bool Colour() const { return Photometric == PHOTOMETRIC_RGB; }
  bool Separate() const { return Planar == PLANARCONFIG_SEPARATE; }
  // Only the colour samples are decoded: R, G and B, or grey, come first.
  std::uint16_t DecodedPlanes() const { return Separate() ? (Colour() ? 3 : 1) : 1; }
  std::uint16_t SamplesInPlane() const { return Separate() ? 1 : Samples; }
  std::uint64_t PlaneRowBytes() const {
    return std::uint64_t{Width} * SamplesInPlane() * (Bits / 8);
  }
};

Layout ReadLayout(TIFF* tiff);

// Strips whose decoded rows take more than this are read a few rows at a
// time through libtiff's scanline interface, which decodes them incrementally:
// memory then stays a few rows, whatever the strip's height.
inline constexpr std::uint64_t kLargestWholeStrip = std::uint64_t{8} << 20;
inline bool ReadByScanlines(const Layout& layout) {
  return !layout.Tiled &&
         std::uint64_t{layout.RowsPerStrip} * layout.PlaneRowBytes() > kLargestWholeStrip;
}

// Empty when the reader takes the file; otherwise why not, in words. Checks
// the samples, the limits, and that every strip or tile of the planes decoded
// lies within the file (and, uncompressed, holds all its bytes), all before
// anything is allocated for pixels.
std::string RefuseLayout(TIFF* tiff, const Layout& layout, std::uint64_t fileSize,
                         const ReadLimits& limits);

}  // namespace lumivane
