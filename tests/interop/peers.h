// Running the peer tools (OpenImageIO, ImageMagick, pfstools, libtiff,
// luminance-hdr, tifffile) and reading what they write, for the conformance suite.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/clirunner.h"
#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane::interop {

using testing::Bytes;
using testing::FloatImage;
using testing::TempDir;

// Debian's interpreter: the one with python3-tifffile and numpy.
inline constexpr const char* kPython = "/usr/bin/python3";
// The real ImageMagick 6 convert, not a wrapper earlier on PATH.
inline constexpr const char* kMagick = "/usr/bin/convert";

using testing::Quote;

using Ran = testing::CliRun;

// A shell command with its standard output and standard error kept apart.
inline Ran Shell(const TempDir& dir, const std::string& command) {
  return testing::RunShell(dir, command);
}
inline Ran RunCli(const TempDir& dir, const std::vector<std::string>& args) {
  return testing::RunCliProgram(dir, args);
}

// Whether every named program is installed (tifffile counts as "tifffile").
bool HavePeers(const std::vector<std::string>& names);

// A scene with real dynamic range: values over seven decades, runs of one
// colour beside changing pixels, and black pixels; no two rows alike.
FloatImage Scene(std::uint32_t width, std::uint32_t height);
// Values k / 65535 in [0, 1], which a 16-bit quantum holds without loss.
FloatImage QuantumScene(std::uint32_t width, std::uint32_t height);
// The same value in all three channels of each pixel; none of them 0.
FloatImage GreyScene(std::uint32_t width, std::uint32_t height);

// A PFM of either byte order, rows stored bottom first; returned top row first.
std::optional<FloatImage> ParsePfm(const Bytes& file);
// The first IFD's image of a float TIFF, read by tifffile, top row first.
std::optional<FloatImage> TifffileFloats(const TempDir& dir, const std::string& path);
// A binary PPM (P6, maxval 255): its width, height and the RGB bytes.
struct Rgb8Image {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  Bytes Values;
};
std::optional<Rgb8Image> ParsePpm(const Bytes& file);
// The decompressed pixel bytes that `tiffinfo -d` prints, strip after strip.
std::optional<Bytes> TiffinfoPixelBytes(const TempDir& dir, const std::string& path);

// The floats of the pixel data of a 96-bit TIFF this program wrote.
FloatImage OurTiff96(const Bytes& file, std::uint32_t width, std::uint32_t height);

// The Radiance bytes behind a value decoded as (M + 0.5) / 256 x 2^(E - 128):
// every such value is (2M + 1) x 2^(E - 137), and the odd factor gives M and E.
struct RgbeCode {
  int M = 0;
  int E = 0;
};
std::optional<RgbeCode> RgbeCodeOf(float value);

// The 24-bit result the operator gives for these floats and settings; Radiance
// input is mapped in single precision.
Bytes ExpectedToneMap(const FloatImage& image, float brightness, float postGamma, bool warm,
                      bool radiance = false);

// The largest of the three channels of pixel i.
float PixelMaximum(const FloatImage& image, std::size_t pixel);

}  // namespace lumivane::interop
