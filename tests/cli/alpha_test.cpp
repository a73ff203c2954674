// Alpha through conversions: kept value for value by the outputs that hold it
// (OpenEXR, the float TIFF with alpha), dropped with its log line by the
// others; and beside tone-mapped PNG and TIFF pictures as straight alpha.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "formats/tiffheaderbytes.h"
#include "tests/cli/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {
namespace {

const char kDropped[] = "Alpha channel dropped: the output holds RGB only\n";
const char kKept[] = "Alpha channel kept\n";

struct ExrChannel {
  Imf::PixelType Type = Imf::HALF;
  std::vector<float> Values;
  std::vector<std::uint16_t> Bits;  // the stored halves, for a half channel
};

ExrChannel ReadExrChannel(const std::string& path, const char* name) {
  Imf::InputFile file(path.c_str());
  const Imf::Channel* channel = file.header().channels().findChannel(name);
  if (!channel) return {Imf::NUM_PIXELTYPES, {}, {}};
  const Imath::Box2i window = file.header().dataWindow();
  const std::size_t width = window.max.x - window.min.x + 1;
  const std::size_t pixels = width * (window.max.y - window.min.y + 1);
  ExrChannel read{channel->type, std::vector<float>(pixels), {}};
  std::vector<Imath::half> halves(pixels);
  Imf::FrameBuffer frame;
  if (read.Type == Imf::HALF)
    frame.insert(name, Imf::Slice::Make(Imf::HALF, halves.data(), window, sizeof(Imath::half),
                                        sizeof(Imath::half) * width));
  else
    frame.insert(name, Imf::Slice::Make(Imf::FLOAT, read.Values.data(), window, sizeof(float),
                                        sizeof(float) * width));
  file.setFrameBuffer(frame);
  file.readPixels(window.min.y, window.max.y);
  for (std::size_t i = 0; i < pixels && read.Type == Imf::HALF; ++i) {
    read.Bits.push_back(halves[i].bits());
    read.Values[i] = halves[i];
  }
  return read;
}

struct TiffSamples {
  std::uint16_t Samples = 0, Bits = 0, Format = 0, ExtraKind = 0;
  std::vector<float> Values;  // every sample, pixel by pixel
};

TiffSamples ReadFloatTiff(const std::string& path) {
  TiffSamples read;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return read;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &read.Samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &read.Bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &read.Format);
  std::uint16_t extras = 0;
  std::uint16_t* kinds = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras == 1)
    read.ExtraKind = kinds[0];
  if (read.Bits == 32) {
    read.Values.resize(std::size_t{width} * height * read.Samples);
    for (std::uint32_t y = 0; y < height; ++y)
      TIFFReadScanline(tiff, read.Values.data() + std::size_t{width} * read.Samples * y, y, 0);
  }
  TIFFClose(tiff);
  return read;
}

// Every `samples`th value from the `first`.
std::vector<float> Channel(const std::vector<float>& values, std::size_t samples,
                           std::size_t first) {
  std::vector<float> channel;
  for (std::size_t i = first; i < values.size(); i += samples) channel.push_back(values[i]);
  return channel;
}

std::vector<float> Rgb(const std::vector<float>& rgba) {
  std::vector<float> rgb;
  for (std::size_t i = 0; i < rgba.size(); ++i)
    if (i % 4 != 3) rgb.push_back(rgba[i]);
  return rgb;
}

bool Says(const CliRun& run, const char* line) {
  return run.Out.find(line) != std::string::npos;
}

TEST(Alpha, KeptBitForBitInOpenExrAndFloatTiffDroppedAloudElsewhere) {
  TempDir dir;
  const FloatImage image = GradientImage(7, 5);
  // Transparent, opaque, between, a half's subnormal, beyond 1, below 0, a ramp.
  std::vector<float> alpha = {0.0f, 1.0f, 0.5f, 0x1p-20f, 3.0f, -0.25f};
  for (std::size_t p = alpha.size(); p < 35; ++p) alpha.push_back(static_cast<float>(p) / 35.0f);
  const FloatImage stored =
      WriteExr(dir.File("in.exr"), image, {.Compression = 4, .Alpha = true, .AlphaValues = alpha});
  const ExrChannel in = ReadExrChannel(dir.File("in.exr"), "A");
  ASSERT_EQ(in.Bits.size(), alpha.size());

  // OpenEXR to OpenEXR: A stays half, every bit as it was.
  const CliRun exr = RunCliInProcess({"convert", dir.File("in.exr"), dir.File("out.exr")});
  ASSERT_EQ(exr.Status, 0) << exr.Err;
  EXPECT_TRUE(Says(exr, kKept) && !Says(exr, kDropped)) << exr.Out;
  const ExrChannel out = ReadExrChannel(dir.File("out.exr"), "A");
  EXPECT_EQ(out.Type, Imf::HALF);
  EXPECT_EQ(out.Bits, in.Bits);
  EXPECT_EQ(ReadExrChannel(dir.File("out.exr"), "G").Values, Channel(stored.Values, 3, 1));

  // To TIFF: a fourth float sample, premultiplied as OpenEXR's is.
  const CliRun tif = RunCliInProcess({"convert", dir.File("in.exr"), dir.File("out.tif")});
  ASSERT_EQ(tif.Status, 0) << tif.Err;
  EXPECT_TRUE(Says(tif, kKept)) << tif.Out;
  const TiffSamples tiff = ReadFloatTiff(dir.File("out.tif"));
  EXPECT_EQ(tiff.Samples, 4);
  EXPECT_EQ(tiff.Bits, 32);
  EXPECT_EQ(tiff.Format, SAMPLEFORMAT_IEEEFP);
  EXPECT_EQ(tiff.ExtraKind, EXTRASAMPLE_ASSOCALPHA);
  EXPECT_EQ(Channel(tiff.Values, 4, 3), in.Values);
  EXPECT_EQ(Rgb(tiff.Values), stored.Values);

  // That TIFF back to OpenEXR: its float alpha stays float, the same values.
  ASSERT_EQ(RunCliInProcess({"convert", dir.File("out.tif"), dir.File("back.exr")}).Status, 0);
  const ExrChannel back = ReadExrChannel(dir.File("back.exr"), "A");
  EXPECT_EQ(back.Type, Imf::FLOAT);
  EXPECT_EQ(back.Values, in.Values);

  // The outputs without alpha, tone-mapped ones too, say it is dropped.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", dir.File("in.exr"), dir.File("out.pfm")},
        {"convert", dir.File("in.exr"), dir.File("out.hdr")},
        {"tonemap", dir.File("in.exr"), dir.File("out.jpg")}}) {
    const CliRun run = RunCliInProcess(args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Says(run, kDropped) && !Says(run, kKept)) << args.back() << "\n" << run.Out;
  }
}

TEST(Alpha, TiffKeepsItsKindAndRgbInputsKeepThe96BitTiff) {
  TempDir dir;
  const FloatImage image = GradientImage(6, 4);
  // Straight (unassociated) alpha stays straight.
  WriteLibraryTiff(dir.File("straight.tif"), image, {.Compression = 8, .Alpha = true});
  const CliRun run = RunCliInProcess({"convert", dir.File("straight.tif"), dir.File("out.tif")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(Says(run, kKept)) << run.Out;
  const TiffSamples out = ReadFloatTiff(dir.File("out.tif"));
  EXPECT_EQ(out.ExtraKind, EXTRASAMPLE_UNASSALPHA);
  EXPECT_EQ(Channel(out.Values, 4, 3), std::vector<float>(24, 0.5f));
  EXPECT_EQ(Rgb(out.Values), image.Values);
  // Separate planes decode the colours only: their alpha is said to be dropped.
  WriteLibraryTiff(dir.File("planar.tif"), image, {.Planar = true, .Alpha = true});
  const CliRun planar = RunCliInProcess({"convert", dir.File("planar.tif"), dir.File("p.tif")});
  EXPECT_TRUE(Says(planar, kDropped)) << planar.Out;
  // Without alpha, or with it dropped, the float TIFF is the 96-bit one as ever.
  WriteExr(dir.File("rgb.exr"), image, {.Half = false});
  ASSERT_EQ(RunCliInProcess({"convert", dir.File("rgb.exr"), dir.File("rgb.tif")}).Status, 0);
  for (const char* name : {"rgb.tif", "p.tif"}) {
    const Bytes bytes = ReadBytes(dir.File(name));
    const auto header = Tiff96HeaderBytes(6, 4);
    ASSERT_EQ(bytes.size(), header.size() + 6 * 4 * 12) << name;
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin())) << name;
    EXPECT_EQ(Bytes(bytes.begin() + header.size(), bytes.end()), PixelRows(image, 0, 4)) << name;
  }
}

TEST(Alpha, OiiotoolsGradientAlphaSurvivesAndItReadsOurs) {
  if (!HaveTool("oiiotool")) GTEST_SKIP() << "oiiotool is not installed";
  TempDir dir;
  const std::string in = dir.File("peer.exr"), out = dir.File("ours.exr");
  ASSERT_EQ(RunCommand("oiiotool --pattern fill:left=0.5,0.25,2,0:right=0.1,0.2,0.3,1 64x32 4 "
                       "-d half -o " +
                       Quote(in)),
            0);
  const ExrChannel peer = ReadExrChannel(in, "A");
  ASSERT_EQ(peer.Type, Imf::HALF);
  ASSERT_EQ(RunCliInProcess({"convert", "-q", in, out}).Status, 0);
  EXPECT_EQ(ReadExrChannel(out, "A").Bits, peer.Bits);
  ASSERT_EQ(RunCliInProcess({"convert", "-q", in, dir.File("ours.tif")}).Status, 0);
  std::string info;
  RunCommand("oiiotool --info -v " + Quote(dir.File("ours.tif")) + " 2>&1", &info);
  EXPECT_NE(info.find("4 channel"), std::string::npos) << info;
  EXPECT_NE(info.find("R, G, B, A"), std::string::npos) << info;
}

// An 8- or 16-bit TIFF's samples, pixel by pixel, and how many a pixel.
std::vector<std::uint16_t> ReadLevelTiff(const std::string& path, std::uint16_t& samples,
                                         std::uint16_t& extraKind) {
  std::vector<std::uint16_t> levels;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return levels;
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, extras = 0, *kinds = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  extraKind = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras ? kinds[0] : 0;
  std::vector<std::uint8_t> row(TIFFScanlineSize(tiff));
  for (std::uint32_t y = 0; y < height; ++y) {
    TIFFReadScanline(tiff, row.data(), y, 0);
    for (std::size_t i = 0; i < std::size_t{width} * samples; ++i)
      levels.push_back(bits == 16 ? reinterpret_cast<const std::uint16_t*>(row.data())[i] : row[i]);
  }
  TIFFClose(tiff);
  return levels;
}

// A PNG's pixels as 8-bit RGBA (255 for a file without alpha); whether it
// holds alpha in `alpha`.
std::vector<std::uint16_t> ReadPngRgba(const std::string& path, bool& alpha) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
  return {pixels.begin(), pixels.end()};
}

std::vector<std::uint16_t> Levels(const std::vector<std::uint16_t>& values, std::size_t samples,
                                  bool colour) {
  std::vector<std::uint16_t> picked;
  for (std::size_t i = 0; i < values.size(); ++i)
    if ((i % samples < 3) == colour) picked.push_back(values[i]);
  return picked;
}

std::vector<std::uint16_t> AlphaLevels(const std::vector<float>& alpha, float top) {
  std::vector<std::uint16_t> levels;
  for (float a : alpha)
    levels.push_back(static_cast<std::uint16_t>(std::lround(std::clamp(a, 0.0f, 1.0f) * top)));
  return levels;
}

TEST(Alpha, ToneMappedPngAndTiffHoldTheStraightPictureAndItsAlpha) {
  TempDir dir;
  const FloatImage image = GradientImage(8, 4);
  std::vector<float> alpha = {0.0f, 1.0f, 0.5f, 1.5f};
  for (std::size_t p = alpha.size(); p < 32; ++p) alpha.push_back(static_cast<float>(p) / 40.0f);
  const FloatImage stored =
      WriteExr(dir.File("in.exr"), image, {.Alpha = true, .AlphaValues = alpha});
  const std::vector<float> a = ReadExrChannel(dir.File("in.exr"), "A").Values;
  // The same picture with straight colour and no alpha: what the RGB must be.
  FloatImage straight = stored;
  for (std::size_t i = 0; i < straight.Values.size(); ++i)
    if (a[i / 3] > 0.0f) straight.Values[i] /= a[i / 3];
  WriteExr(dir.File("straight.exr"), straight, {.Half = false});

  const auto tonemap = [&](std::vector<std::string> args) {
    const CliRun run = RunCliInProcess(args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    return run;
  };
  EXPECT_TRUE(Says(tonemap({"tonemap", dir.File("in.exr"), dir.File("out.png")}), kKept));
  tonemap({"tonemap", dir.File("straight.exr"), dir.File("ref.png")});
  bool hasAlpha = false, refAlpha = true;
  const std::vector<std::uint16_t> png = ReadPngRgba(dir.File("out.png"), hasAlpha);
  const std::vector<std::uint16_t> ref = ReadPngRgba(dir.File("ref.png"), refAlpha);
  EXPECT_TRUE(hasAlpha && !refAlpha);
  ASSERT_EQ(png.size(), 8u * 4 * 4);
  EXPECT_EQ(Levels(png, 4, true), Levels(ref, 4, true));
  EXPECT_EQ(Levels(png, 4, false), AlphaLevels(a, 255.0f));

  // TIFF: 8 bits through libtiff (the 24-bit writer has no room), and 16.
  tonemap({"tonemap", dir.File("in.exr"), dir.File("out.tif")});
  tonemap({"tonemap", "--depth", "16", dir.File("in.exr"), dir.File("out16.tif")});
  tonemap({"tonemap", "--depth", "16", dir.File("straight.exr"), dir.File("ref16.tif")});
  std::uint16_t samples = 0, kind = 0, refSamples = 0;
  const std::vector<std::uint16_t> tif8 = ReadLevelTiff(dir.File("out.tif"), samples, kind);
  EXPECT_TRUE(samples == 4 && kind == EXTRASAMPLE_UNASSALPHA);
  EXPECT_EQ(Levels(tif8, 4, true), Levels(ref, 4, true));
  EXPECT_EQ(Levels(tif8, 4, false), AlphaLevels(a, 255.0f));
  const std::vector<std::uint16_t> tif16 = ReadLevelTiff(dir.File("out16.tif"), samples, kind);
  const std::vector<std::uint16_t> ref16 = ReadLevelTiff(dir.File("ref16.tif"), refSamples, kind);
  EXPECT_TRUE(samples == 4 && refSamples == 3);
  EXPECT_EQ(Levels(tif16, 4, true), ref16);
  EXPECT_EQ(Levels(tif16, 4, false), AlphaLevels(a, 65535.0f));

  // Made smaller, alpha is averaged as colour is: columns, then rows.
  tonemap({"tonemap", "--fit", "4x2", dir.File("in.exr"), dir.File("small.png")});
  std::vector<float> averaged;
  for (std::size_t y = 0; y < 4; y += 2)
    for (std::size_t x = 0; x < 8; x += 2) {
      const float top = a[8 * y + x] + a[8 * y + x + 1];
      const float bottom = a[8 * y + 8 + x] + a[8 * y + 9 + x];
      averaged.push_back(static_cast<float>((double{top} + double{bottom}) / 4.0));
    }
  EXPECT_EQ(Levels(ReadPngRgba(dir.File("small.png"), hasAlpha), 4, false),
            AlphaLevels(averaged, 255.0f));
}

}  // namespace
}  // namespace lumivane::testing
