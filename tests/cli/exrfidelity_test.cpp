// OpenEXR to OpenEXR conversions that keep the pixel type, the values and the
// standard attributes and alpha; alpha dropped with its log line where the
// output has none; stated primaries honoured before tone-mapping.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/cli/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {
namespace {

const char kAlphaLine[] = "Alpha channel dropped: the output holds RGB only\n";

struct ExrPixels {
  Imf::Header Header;
  Imf::PixelType Type = Imf::HALF;
  std::vector<float> Values;  // R, G, B of each pixel
};

// The file's R, G, B as the library reads them, with the header and the R
// channel's stored pixel type.
ExrPixels ReadExrPixels(const std::string& path) {
  Imf::InputFile file(path.c_str());
  ExrPixels read{file.header(), file.header().channels().findChannel("R")->type, {}};
  const Imath::Box2i window = file.header().dataWindow();
  const std::size_t width = window.max.x - window.min.x + 1;
  read.Values.resize(width * (window.max.y - window.min.y + 1) * 3);
  Imf::FrameBuffer frame;
  int c = 0;
  for (const char* name : {"R", "G", "B"})
    frame.insert(name, Imf::Slice::Make(Imf::FLOAT, read.Values.data() + c++, window,
                                        3 * sizeof(float), 3 * sizeof(float) * width));
  file.setFrameBuffer(frame);
  file.readPixels(window.min.y, window.max.y);
  return read;
}

std::vector<std::uint16_t> HalfBits(const std::vector<float>& values) {
  std::vector<std::uint16_t> bits;
  for (const float v : values) bits.push_back(Imath::half(v).bits());
  return bits;
}

void AddStatedAttributes(Imf::Header& header) {
  // Display P3.
  Imf::addChromaticities(header, Imf::Chromaticities({0.680f, 0.320f}, {0.265f, 0.690f},
                                                     {0.150f, 0.060f}, {0.3127f, 0.3290f}));
  Imf::addWhiteLuminance(header, 120.0f);
  Imf::addOwner(header, "Ada Lovelace");
  Imf::addComments(header, "dawn over the harbour");
  Imf::addCapDate(header, "2026:03:14 06:12:00");
  Imf::addExpTime(header, 0.004f);
  header.displayWindow() = Imath::Box2i({0, 0}, {15, 11});
}

std::string PeerOutput(const std::string& command) {
  std::string text;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
    text.append(buffer, got);
  return text;
}

TEST(ExrConvert, HalfInputStaysHalfBitExactWithItsAttributesAndAlpha) {
  TempDir dir;
  FloatImage image = GradientImage(9, 6);
  // The smallest subnormal, a negative value, the largest half, infinity.
  const float special[] = {0x1p-24f, -3.5f, 65504.0f, std::numeric_limits<float>::infinity()};
  for (std::size_t i = 0; i < std::size(special); ++i) image.Values[i] = special[i];
  const FloatImage stored = WriteExr(dir.File("in.exr"), image,
                                     {.Compression = 4,  // PIZ
                                      .OriginX = 2,
                                      .OriginY = 3,
                                      .Alpha = true,
                                      .Attributes = AddStatedAttributes});

  const CliRun kept = RunCliInProcess({"convert", dir.File("in.exr"), dir.File("kept.exr")});
  ASSERT_EQ(kept.Status, 0) << kept.Err;
  EXPECT_EQ(kept.Out.find(kAlphaLine), std::string::npos) << kept.Out;
  const ExrPixels out = ReadExrPixels(dir.File("kept.exr"));
  EXPECT_EQ(out.Type, Imf::HALF);
  EXPECT_EQ(HalfBits(out.Values), HalfBits(stored.Values));
  const Imf::Header& h = out.Header;
  EXPECT_EQ(h.compression(), Imf::PIZ_COMPRESSION);
  EXPECT_NE(h.channels().findChannel("A"), nullptr);
  ASSERT_TRUE(Imf::hasChromaticities(h));
  EXPECT_EQ(Imf::chromaticities(h).green, Imath::V2f(0.265f, 0.690f));
  EXPECT_EQ(Imf::chromaticities(h).white, Imath::V2f(0.3127f, 0.3290f));
  ASSERT_TRUE(Imf::hasOwner(h) && Imf::hasComments(h) && Imf::hasCapDate(h));
  EXPECT_EQ(Imf::owner(h), "Ada Lovelace");
  EXPECT_EQ(Imf::comments(h), "dawn over the harbour");
  EXPECT_EQ(Imf::capDate(h), "2026:03:14 06:12:00");
  ASSERT_TRUE(Imf::hasExpTime(h) && Imf::hasWhiteLuminance(h));
  EXPECT_EQ(Imf::expTime(h), 0.004f);
  EXPECT_EQ(Imf::whiteLuminance(h), 120.0f);
  // The data window moves to 0, 0; the display window keeps its place around it.
  EXPECT_EQ(h.dataWindow(), Imath::Box2i({0, 0}, {8, 5}));
  EXPECT_EQ(h.displayWindow(), Imath::Box2i({-2, -3}, {13, 8}));

  // A float TIFF (with alpha, so through libtiff) keeps what it has tags for.
  ASSERT_EQ(RunCliInProcess({"convert", "-q", dir.File("in.exr"), dir.File("kept.tif")}).Status, 0);
  TIFF* tiff = TIFFOpen(dir.File("kept.tif").c_str(), "r");
  ASSERT_NE(tiff, nullptr);
  const char *artist = "", *description = "", *date = "";
  float* primaries = nullptr;
  TIFFGetField(tiff, TIFFTAG_ARTIST, &artist);
  TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description);
  TIFFGetField(tiff, TIFFTAG_DATETIME, &date);
  EXPECT_EQ(std::string(artist) + "|" + description + "|" + date,
            "Ada Lovelace|dawn over the harbour|2026:03:14 06:12:00");
  ASSERT_TRUE(TIFFGetField(tiff, TIFFTAG_PRIMARYCHROMATICITIES, &primaries));
  // Stored as rationals.
  const float p3[] = {0.68f, 0.32f, 0.265f, 0.69f, 0.15f, 0.06f};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(primaries[i], p3[i], 1e-6) << i;
  TIFFClose(tiff);

  // --float widens every half exactly; the compression stays the input's.
  const CliRun wide =
      RunCliInProcess({"convert", "-q", "--float", dir.File("in.exr"), dir.File("wide.exr")});
  ASSERT_EQ(wide.Status, 0) << wide.Err;
  const ExrPixels widened = ReadExrPixels(dir.File("wide.exr"));
  EXPECT_EQ(widened.Type, Imf::FLOAT);
  EXPECT_EQ(widened.Header.compression(), Imf::PIZ_COMPRESSION);
  EXPECT_EQ(widened.Values, stored.Values);
  EXPECT_EQ(
      RunCliInProcess({"convert", "--half", "--float", dir.File("in.exr"), dir.File("both.exr")})
          .Status,
      2);

  // The outputs without alpha and tone-mapping say that it is dropped.
  for (const char* other : {"out.pfm", "out.hdr"}) {
    const CliRun run = RunCliInProcess({"convert", dir.File("in.exr"), dir.File(other)});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find(kAlphaLine), std::string::npos) << other;
  }
  // A Radiance output keeps the primaries in its header.
  const Bytes hdr = ReadBytes(dir.File("out.hdr"));
  EXPECT_EQ(std::string(hdr.begin(), hdr.begin() + std::min<std::size_t>(hdr.size(), 100)),
            "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n"
            "PRIMARIES= 0.68 0.32 0.265 0.69 0.15 0.06 0.3127 0.329\n\n-Y 6 +X 9\n");
  const CliRun toned = RunCliInProcess({"tonemap", dir.File("in.exr"), dir.File("out.jpg")});
  EXPECT_NE(toned.Out.find(kAlphaLine), std::string::npos) << toned.Out;
  // A TIFF's alpha sample is said the same way; an RGB one says nothing.
  for (const bool alpha : {true, false}) {
    testing::WriteLibraryTiff(dir.File("rgba.tif"), testing::GradientImage(6, 4),
                              {.Compression = 8, .Alpha = alpha});
    const CliRun tiff = RunCliInProcess({"tonemap", dir.File("rgba.tif"), dir.File("t.jpg")});
    EXPECT_EQ(tiff.Status, 0) << tiff.Err;
    EXPECT_EQ(tiff.Out.find(kAlphaLine) != std::string::npos, alpha) << tiff.Out;
  }

  if (std::system("command -v oiiotool >/dev/null 2>&1") != 0) return;
  const std::string peer = PeerOutput("oiiotool --info -v '" + dir.File("kept.exr") + "' 2>&1");
  for (const char* said : {"half", "Ada Lovelace", "dawn over the harbour", "2026:03:14 06:12:00",
                           "chromaticities", "piz"})
    EXPECT_NE(peer.find(said), std::string::npos) << said << " in\n" << peer;
}

TEST(ExrConvert, LossyInputCompressionIsNotAppliedAgain) {
  TempDir dir;
  WriteExr(dir.File("b44.exr"), GradientImage(16, 8), {.Compression = 6});  // B44
  const CliRun run = RunCliInProcess({"convert", "-q", dir.File("b44.exr"), dir.File("out.exr")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const ExrPixels in = ReadExrPixels(dir.File("b44.exr"));
  const ExrPixels out = ReadExrPixels(dir.File("out.exr"));
  EXPECT_EQ(out.Type, Imf::HALF);
  EXPECT_EQ(out.Header.compression(), Imf::ZIP_COMPRESSION);
  EXPECT_EQ(HalfBits(out.Values), HalfBits(in.Values));
}

// ACES2065-1 to linear Rec. 709 with Bradford adaptation from the ACES white
// to D65, as the ACES configurations of OpenColorIO publish it.
constexpr double kAp0ToRec709[9] = {2.52168618674388,    -1.13413098823972,  -0.387555198504164,
                                    -0.276479914229922,  1.37271908766826,   -0.096239173438334,
                                    -0.0153780649660342, -0.152975335867399, 1.16835340083343};

void AddAp0(Imf::Header& header) {
  Imf::addChromaticities(header, Imf::Chromaticities({0.7347f, 0.2653f}, {0.0f, 1.0f},
                                                     {0.0001f, -0.077f}, {0.32168f, 0.33767f}));
}

int LargestDifference(const Bytes& a, const Bytes& b) {
  int largest = a.size() == b.size() ? 0 : 256;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    largest = std::max(largest, std::abs(int{a[i]} - int{b[i]}));
  return largest;
}

TEST(ExrColour, Ap0InputTonemapsAsItsPixelsInRec709Do) {
  TempDir dir;
  // Saturated colours, each channel leading somewhere.
  FloatImage ap0{12, 8, {}}, rec709{12, 8, {}};
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 12; ++x) {
      const float rgb[3] = {0.05f + 0.4f * static_cast<float>(x % 4),
                            0.05f + 0.3f * static_cast<float>(y % 3),
                            0.1f + 0.2f * static_cast<float>((x + y) % 5)};
      for (int row = 0; row < 3; ++row) {
        ap0.Values.push_back(rgb[row]);
        double value = 0.0;
        for (int c = 0; c < 3; ++c) value += kAp0ToRec709[3 * row + c] * rgb[c];
        rec709.Values.push_back(static_cast<float>(value));
      }
    }
  WriteExr(dir.File("ap0.exr"), ap0, {.Half = false, .Attributes = AddAp0});
  WriteExr(dir.File("rec709.exr"), rec709, {.Half = false});
  WriteExr(dir.File("unstated.exr"), ap0, {.Half = false});
  for (const char* op : {"classic", "reinhard02"}) {
    SCOPED_TRACE(op);
    const CliRun stated =
        RunCliInProcess({"tonemap", "--operator", op, dir.File("ap0.exr"), dir.File("ap0.tif")});
    ASSERT_EQ(stated.Status, 0) << stated.Err;
    EXPECT_NE(stated.Out.find("Converted to Rec. 709 primaries from red 0.7347 0.2653, green 0 1, "
                              "blue 0.0001 -0.077, white 0.3217 0.3377\n"),
              std::string::npos)
        << stated.Out;
    for (const char* name : {"rec709", "unstated"})
      ASSERT_EQ(
          RunCliInProcess({"tonemap", "-q", "--operator", op, dir.File(std::string(name) + ".exr"),
                           dir.File(std::string(name) + ".tif")})
              .Status,
          0);
    const Bytes converted = TiffPixels(ReadBytes(dir.File("ap0.tif")));
    ASSERT_EQ(converted.size(), std::size_t{12} * 8 * 3);
    EXPECT_LE(LargestDifference(converted, TiffPixels(ReadBytes(dir.File("rec709.tif")))), 2);
    // The same numbers read as Rec. 709 look clearly otherwise.
    EXPECT_GT(LargestDifference(converted, TiffPixels(ReadBytes(dir.File("unstated.tif")))), 20);
  }
}

}  // namespace
}  // namespace lumivane::testing
