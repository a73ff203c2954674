// The outputs chosen by extension, run in process through the command line.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <gtest/gtest.h>
#include <half.h>
#include <png.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "cli/commandline.h"
#include "formats/rgbe.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::CliRun;
using testing::RunCliInProcess;

using testing::Bytes;
using testing::FileExists;
using testing::ReadBytes;
using testing::TempDir;

void ExpectRuns(const std::vector<std::string>& args) {
  const CliRun result = RunCliInProcess(args);
  ASSERT_EQ(result.Status, 0) << result.Err;
}

std::string Photo() {
  return std::string(LUMIVANE_SOURCE_DIR) + "/tests/data/dawn-crop.hdr";
}

struct Picture {
  std::uint32_t Width = 0, Height = 0;
  Bytes Pixels;  // 8-bit RGB rows, top first
};

Picture ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.Pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.Pixels.data(), 0, nullptr)) return {};
  picture.Width = image.width;
  picture.Height = image.height;
  return picture;
}

Picture ReadJpeg(const std::string& path) {
  Picture picture;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return picture;
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  picture.Width = info.output_width;
  picture.Height = info.output_height;
  picture.Pixels.resize(std::size_t{picture.Width} * picture.Height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.Pixels.data() + std::size_t{info.output_scanline} * picture.Width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return picture;
}

// The R, G, B values of an OpenEXR file as the library reads them, in `type`.
template <typename Value>
std::vector<Value> ReadExr(const std::string& path, Imf::PixelType type,
                           Imf::Compression* compression = nullptr) {
  Imf::InputFile file(path.c_str());
  const Imath::Box2i window = file.header().dataWindow();
  if (compression) *compression = file.header().compression();
  const std::size_t width = window.max.x - window.min.x + 1;
  const std::size_t height = window.max.y - window.min.y + 1;
  std::vector<Value> values(width * height * 3);
  Imf::FrameBuffer frame;
  int c = 0;
  for (const char* name : {"R", "G", "B"}) {
    EXPECT_EQ(file.header().channels().findChannel(name)->type, type);
    frame.insert(name, Imf::Slice::Make(type, values.data() + c++, window, 3 * sizeof(Value),
                                        3 * sizeof(Value) * width));
  }
  file.setFrameBuffer(frame);
  file.readPixels(window.min.y, window.max.y);
  return values;
}

std::vector<std::uint32_t> Bits(const std::vector<float>& values) {
  std::vector<std::uint32_t> bits;
  for (const float v : values) bits.push_back(std::bit_cast<std::uint32_t>(v));
  return bits;
}

std::vector<float> PfmFloats(const std::string& path) {
  return testing::ParseLittleEndianPfm(ReadBytes(path)).Values;
}

// The four RGBE planes of a Radiance file, as the decoder gives them.
Bytes RgbeBytes(const std::string& path) {
  const Bytes file = ReadBytes(path);
  const std::string text(file.begin(), file.end());
  const std::size_t size = text.find("\n-Y ");
  const std::size_t start = text.find('\n', size + 1) + 1;
  std::uint32_t width = 0, height = 0;
  std::sscanf(text.c_str() + size + 1, "-Y %u +X %u", &height, &width);
  RgbeBlockDecoder decoder(file.data() + start, file.size() - start, width, height, height);
  EXPECT_TRUE(decoder.DecodeNext());
  const auto block = decoder.Last();
  const std::size_t n = std::size_t{width} * height;
  Bytes planes;
  for (const std::uint8_t* plane : {block.R, block.G, block.B, block.E})
    planes.insert(planes.end(), plane, plane + n);
  return planes;
}

TEST(Outputs, PngHoldsTheTiffsPixelBytesAndJpegIsClose) {
  TempDir dir;
  // The Radiance job and the float job, each with its own settings.
  ExpectRuns({"convert", "-q", Photo(), dir.File("photo.pfm")});
  for (const auto& job : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {Photo(), {}}, {dir.File("photo.pfm"), {"--brightness", "3", "--warm"}}}) {
    const std::string& input = job.first;
    const std::vector<std::string>& settings = job.second;
    SCOPED_TRACE(input);
    const auto run = [&](const std::string& output, std::vector<std::string> extra = {}) {
      std::vector<std::string> args = {"tonemap", "-q"};
      args.insert(args.end(), settings.begin(), settings.end());
      args.insert(args.end(), extra.begin(), extra.end());
      args.insert(args.end(), {input, dir.File(output)});
      ExpectRuns(args);
    };
    run("out.tif");
    run("out.PNG");
    run("out.jpg");
    run("low.jpeg", {"--quality", "20"});
    const Bytes tiff = testing::TiffPixels(ReadBytes(dir.File("out.tif")));
    const Picture png = ReadPng(dir.File("out.PNG"));
    EXPECT_EQ(png.Width, 160u);
    EXPECT_EQ(png.Height, 80u);
    EXPECT_EQ(png.Pixels, tiff);

    const Picture jpeg = ReadJpeg(dir.File("out.jpg"));
    ASSERT_EQ(jpeg.Width, 160u);
    ASSERT_EQ(jpeg.Height, 80u);
    ASSERT_EQ(jpeg.Pixels.size(), tiff.size());
    double difference = 0;
    for (std::size_t i = 0; i < tiff.size(); ++i) difference += std::abs(jpeg.Pixels[i] - tiff[i]);
    EXPECT_LT(difference / tiff.size(), 3.0);
    EXPECT_LT(ReadBytes(dir.File("low.jpeg")).size(), ReadBytes(dir.File("out.jpg")).size() / 2);
  }
}

TEST(Outputs, RadianceOutputKeepsEveryRgbeByteOfARadianceInput) {
  TempDir dir;
  ExpectRuns({"convert", "-q", Photo(), dir.File("same.hdr")});
  // Through the float formats and back: the floats carry the bytes exactly.
  ExpectRuns({"convert", "-q", Photo(), dir.File("photo.tif")});
  ExpectRuns({"convert", "-q", dir.File("photo.tif"), dir.File("fromtiff.hdr")});
  ExpectRuns({"convert", "-q", Photo(), dir.File("photo.pfm")});
  ExpectRuns({"convert", "-q", dir.File("photo.pfm"), dir.File("frompfm.HDR")});
  const Bytes original = RgbeBytes(Photo());
  EXPECT_EQ(RgbeBytes(dir.File("same.hdr")), original);
  EXPECT_EQ(RgbeBytes(dir.File("fromtiff.hdr")), original);
  EXPECT_EQ(RgbeBytes(dir.File("frompfm.HDR")), original);
  // Run-length rows: smaller than the flat pixels.
  EXPECT_LT(ReadBytes(dir.File("same.hdr")).size(), original.size());
  // Pixels no Radiance writer makes (small mantissas, exponent 0) come back too.
  const std::string odd = dir.File("odd.hdr");
  testing::WriteBytes(
      odd, testing::HdrFile(testing::PatternImage(40, 6, 7), testing::RgbeRowForm::ComponentRuns));
  ExpectRuns({"convert", "-q", odd, dir.File("odd.pfm")});
  ExpectRuns({"convert", "-q", dir.File("odd.pfm"), dir.File("odd-back.hdr")});
  EXPECT_EQ(RgbeBytes(dir.File("odd-back.hdr")), RgbeBytes(odd));
}

TEST(Outputs, FloatsKeepEveryBitThroughEveryFloatFormat) {
  TempDir dir;
  testing::FloatImage image = testing::GradientImage(37, 11);
  // Values of every kind: negative, subnormal, huge, zero of both signs.
  const float odd[] = {-2.5f, 1e-40f, 3e38f, -0.0f, 0.0f, 1.0f / 3, 65504.0f, 7e-30f};
  for (std::size_t i = 0; i < std::size(odd); ++i) image.Values[i * 5] = odd[i];
  testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, false));
  const std::vector<std::uint32_t> expected = Bits(image.Values);

  ExpectRuns({"convert", "-q", dir.File("in.pfm"), dir.File("a.tif")});  // PFM > TIFF
  ExpectRuns({"convert", "-q", dir.File("a.tif"), dir.File("b.tiff")});  // TIFF to TIFF
  ExpectRuns({"convert", "-q", dir.File("b.tiff"), dir.File("c.pfm")});  // TIFF > PFM
  ExpectRuns({"convert", "-q", dir.File("c.pfm"), dir.File("d.pfm")});   // PFM to PFM
  ExpectRuns({"convert", "-q", dir.File("in.pfm"), dir.File("e.exr")});  // PFM to EXR
  ExpectRuns({"convert", "-q", dir.File("a.tif"), dir.File("f.exr")});   // TIFF to EXR
  EXPECT_EQ(Bits(PfmFloats(dir.File("d.pfm"))), expected);
  // The new pairs write the same headers as the menu's conversions.
  EXPECT_EQ(ReadBytes(dir.File("d.pfm")), ReadBytes(dir.File("c.pfm")));
  Bytes a = ReadBytes(dir.File("a.tif")), b = ReadBytes(dir.File("b.tiff"));
  ASSERT_EQ(a.size(), b.size());
  std::fill(a.begin() + 240, a.begin() + 260, 0);  // DateTime
  std::fill(b.begin() + 240, b.begin() + 260, 0);
  EXPECT_EQ(a, b);
  Imf::Compression compression = Imf::NUM_COMPRESSION_METHODS;
  EXPECT_EQ(Bits(ReadExr<float>(dir.File("e.exr"), Imf::FLOAT, &compression)), expected);
  EXPECT_EQ(compression, Imf::ZIP_COMPRESSION);
  EXPECT_EQ(Bits(ReadExr<float>(dir.File("f.exr"), Imf::FLOAT)), expected);
}

TEST(Outputs, HalfExrRoundsToNearestEvenWithTheChosenCompression) {
  TempDir dir;
  testing::FloatImage image = testing::GradientImage(4, 2);
  // Halfway between halves (ties go to the even one), just past halfway, and
  // beyond the largest half.
  const float given[] = {
      1.0f + 0x1p-11f, 1.0f + 3 * 0x1p-11f, 1.0f + 0x1p-11f + 0x1p-20f, 65520.0f, -1e-8f, 0.1f};
  const std::uint16_t halves[] = {0x3C00, 0x3C02, 0x3C01, 0x7C00, 0x8000, 0x2E66};
  for (std::size_t i = 0; i < std::size(given); ++i) image.Values[i] = given[i];
  testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, true));
  ExpectRuns({"convert", "-q", "--half", "--compression", "piz", dir.File("in.pfm"),
              dir.File("half.exr")});
  Imf::Compression compression = Imf::NUM_COMPRESSION_METHODS;
  const std::vector<Imath::half> read =
      ReadExr<Imath::half>(dir.File("half.exr"), Imf::HALF, &compression);
  EXPECT_EQ(compression, Imf::PIZ_COMPRESSION);
  for (std::size_t i = 0; i < std::size(given); ++i)
    EXPECT_EQ(read[i].bits(), halves[i]) << given[i];
}

TEST(Outputs, DecreasingLineOrderExrTonemapsAndConvertsAsIncreasing) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(37, 53);
  for (testing::ExrOptions layout :
       {testing::ExrOptions{.Compression = 0}, testing::ExrOptions{.Half = false},
        testing::ExrOptions{.Tile = 16}}) {
    SCOPED_TRACE(std::to_string(layout.Compression) + " " + std::to_string(layout.Tile));
    const testing::FloatImage expected = testing::WriteExr(dir.File("up.exr"), image, layout);
    layout.Decreasing = true;
    testing::WriteExr(dir.File("down.exr"), image, layout);
    for (const std::string name : {"up", "down"}) {
      ExpectRuns({"tonemap", "-q", dir.File(name + ".exr"), dir.File(name + ".tif")});
      ExpectRuns({"convert", "-q", dir.File(name + ".exr"), dir.File(name + ".pfm")});
    }
    EXPECT_EQ(PfmFloats(dir.File("down.pfm")), expected.Values);
    EXPECT_EQ(PfmFloats(dir.File("up.pfm")), expected.Values);
    const Bytes up = testing::TiffPixels(ReadBytes(dir.File("up.tif")));
    EXPECT_EQ(up.size(), std::size_t{37} * 53 * 3);
    EXPECT_EQ(testing::TiffPixels(ReadBytes(dir.File("down.tif"))), up);
  }
}

TEST(Outputs, UnknownExtensionsAndMisplacedSwitchesAreUsageErrorsWritingNothing) {
  TempDir dir;
  const std::string tonemapList = ".tif, .tiff, .png, .jpg, .jpeg";
  const std::string convertList = ".hdr, .tif, .tiff, .pfm, .exr";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"tonemap", Photo(), dir.File("out.bmp")}, tonemapList},
      {{"tonemap", Photo(), dir.File("out")}, tonemapList},
      {{"tonemap", Photo(), dir.File("out.exr")}, tonemapList},
      {{"convert", Photo(), dir.File("out.png")}, convertList},
      {{"convert", Photo(), dir.File("out.jpg")}, convertList},
      {{"convert", Photo(), dir.File("out.tif.gz")}, convertList},
      {{"tonemap", "--quality", "80", Photo(), dir.File("out.png")}, "--quality"},
      {{"tonemap", "--quality", "0", Photo(), dir.File("out.jpg")}, "--quality"},
      {{"convert", "--half", Photo(), dir.File("out.tif")}, "--half"},
      {{"convert", "--compression", "zip", Photo(), dir.File("out.pfm")}, "--compression"},
      {{"convert", "--compression", "lzma", Photo(), dir.File("out.exr")}, "--compression"},
  };
  for (const auto& [args, mention] : cases) {
    const CliRun result = RunCliInProcess(args);
    EXPECT_EQ(result.Status, 2) << args.back();
    EXPECT_NE(result.Err.find(mention), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
    EXPECT_FALSE(FileExists(args.back())) << args.back();
  }
}

}  // namespace
}  // namespace lumivane
