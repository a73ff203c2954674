// What a published output carries: its depth, its colour tag and how it was made.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {
namespace {

const std::string kPhoto = std::string(LUMIVANE_SOURCE_DIR) + "/tests/data/dawn-crop.hdr";
const std::string kSoftware = std::string("LUMIVANE ") + LUMIVANE_VERSION;
const std::string kReinhardDescription =
    "tone-mapped from dawn-crop.hdr with reinhard02 key=auto white=auto";

struct PngFacts {
  int Depth = 0;
  bool Srgb = false;
  std::map<std::string, std::string> Texts;
  std::map<std::string, int> Chunks;  // libpng's compression: tEXt, zTXt or iTXt
  std::vector<unsigned> Samples;      // every channel value, rows top first
};

// The file stays open around the jump, so that it is closed in one place.
PngFacts ReadPngFile(FILE* file) {
  PngFacts facts;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  png_init_io(png, file);
  png_read_info(png, info);
  facts.Depth = png_get_bit_depth(png, info);
  int intent = 0;
  facts.Srgb = png_get_sRGB(png, info, &intent) != 0;
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    facts.Texts[texts[i].key] = texts[i].text;
    facts.Chunks[texts[i].key] = texts[i].compression;
  }
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  std::vector<png_byte> row(png_get_rowbytes(png, info));
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (png_uint_32 i = 0; i < width * 3; ++i)
      facts.Samples.push_back(facts.Depth == 16 ? row[2 * i] * 256u + row[2 * i + 1] : row[i]);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return facts;
}

PngFacts ReadPngFacts(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  return file ? ReadPngFile(file.get()) : PngFacts{};
}

TEST(PublishedOutputs, SixteenBitPngHoldsTheLevelsThatRoundToTheEightBitOnes) {
  TempDir dir;
  for (const char* op : {"classic", "reinhard02"}) {
    SCOPED_TRACE(op);
    const std::string eight = dir.File(std::string(op) + "8.png");
    const std::string sixteen = dir.File(std::string(op) + "16.png");
    ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", op, kPhoto, eight}).Status, 0);
    const CliRun run =
        RunCliInProcess({"tonemap", "-q", "--operator", op, "--depth", "16", kPhoto, sixteen});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const PngFacts bytes = ReadPngFacts(eight), words = ReadPngFacts(sixteen);
    EXPECT_EQ(bytes.Depth, 8);
    EXPECT_EQ(words.Depth, 16);
    EXPECT_TRUE(bytes.Srgb && words.Srgb);
    ASSERT_EQ(words.Samples.size(), bytes.Samples.size());
    ASSERT_FALSE(words.Samples.empty());
    std::size_t finer = 0;
    for (std::size_t i = 0; i < words.Samples.size(); ++i) {
      // The word scaled to 255 rounds to the byte, give or take the rounding edge.
      const double level = words.Samples[i] / 257.0;
      ASSERT_LE(std::abs(level - bytes.Samples[i]), 0.51) << "at " << i;
      finer += words.Samples[i] % 257 != 0;
    }
    EXPECT_GT(finer, words.Samples.size() / 2);  // not just bytes widened
  }
  const CliRun refused = RunCliInProcess({"tonemap", "--depth", "16", kPhoto, dir.File("a.jpg")});
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("--depth"), std::string::npos);
}

struct JpegFacts {
  bool Read = false;
  std::string ProfileDescription;  // of the ICC profile, as Little CMS reads it
  std::vector<std::string> Comments;
};

// libjpeg's default error handler exits the process: this one jumps back.
struct JpegReadErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

JpegFacts ReadJpegFacts(const std::string& path) {
  JpegFacts facts;
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  jpeg_decompress_struct info{};
  JpegReadErrors errors{};
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = [](j_common_ptr common) {
    std::longjmp(reinterpret_cast<JpegReadErrors*>(common->err)->Jump, 1);
  };
  if (setjmp(errors.Jump)) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
  jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&info, TRUE);
  for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
    if (m->marker == JPEG_COM)
      facts.Comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
  JOCTET* profile = nullptr;
  unsigned length = 0;
  if (jpeg_read_icc_profile(&info, &profile, &length)) {
    if (cmsHPROFILE opened = cmsOpenProfileFromMem(profile, length)) {
      char text[256] = {};
      cmsGetProfileInfoASCII(opened, cmsInfoDescription, "en", "US", text, sizeof text);
      facts.ProfileDescription = text;
      cmsCloseProfile(opened);
    }
    std::free(profile);
  }
  jpeg_destroy_decompress(&info);
  facts.Read = true;
  return facts;
}

TEST(PublishedOutputs, JpegCarriesTheSrgbProfileAndHowItWasMade) {
  TempDir dir;
  const std::string jpeg = dir.File("dawn.jpg");
  const CliRun run = RunCliInProcess({"tonemap", "-q", "--operator", "reinhard02", kPhoto, jpeg});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const JpegFacts facts = ReadJpegFacts(jpeg);
  ASSERT_TRUE(facts.Read);
  EXPECT_NE(facts.ProfileDescription.find("sRGB"), std::string::npos) << facts.ProfileDescription;
  ASSERT_EQ(facts.Comments.size(), 2u);
  EXPECT_EQ(facts.Comments[0], kSoftware);
  EXPECT_TRUE(facts.Comments[1].starts_with(kReinhardDescription)) << facts.Comments[1];
  EXPECT_NE(facts.Comments[1].find(" exposure=0 saturation="), std::string::npos);
  EXPECT_EQ(facts.Comments[1].find('\n'), std::string::npos);

  const std::string stripped = dir.File("stripped.jpg");
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--strip", kPhoto, stripped}).Status, 0);
  const JpegFacts bare = ReadJpegFacts(stripped);
  EXPECT_TRUE(bare.Comments.empty());
  EXPECT_NE(bare.ProfileDescription.find("sRGB"), std::string::npos);

  // ImageMagick, where it is installed, finds the profile too.
  if (std::system("command -v identify >/dev/null 2>&1") != 0) return;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen(("identify -verbose '" + jpeg + "' 2>&1").c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string report;
  std::array<char, 4096> chunk{};
  while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe.get()))
    report.append(chunk.data(), n);
  EXPECT_NE(report.find("Profile-icc:"), std::string::npos) << report;
  EXPECT_NE(report.find("icc:description: sRGB"), std::string::npos) << report;
}

struct TiffFacts {
  int Depth = 0;
  std::string Software;
  std::string Description;
  bool HasProfile = false;
  std::vector<unsigned> Samples;
};

TiffFacts ReadTiffFacts(const std::string& path) {
  TiffFacts facts;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return facts;
  std::uint16_t bits = 0, samples = 0;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  facts.Depth = bits;
  const char* text = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_SOFTWARE, &text)) facts.Software = text;
  if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text)) facts.Description = text;
  std::uint32_t profileLength = 0;
  void* profile = nullptr;
  facts.HasProfile =
      TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileLength, &profile) == 1 && profileLength > 128;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tiff)));
  for (std::uint32_t y = 0; samples == 3 && y < height; ++y) {
    if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) break;
    for (std::uint32_t i = 0; i < width * 3; ++i) {
      std::uint16_t word = 0;
      if (bits == 16) std::memcpy(&word, row.data() + 2 * i, 2);
      facts.Samples.push_back(bits == 16 ? word : row[i]);
    }
  }
  TIFFClose(tiff);
  return facts;
}

TEST(PublishedOutputs, SixteenBitTiffHoldsTheLevelsOfTheClassicTiffAndHowItWasMade) {
  TempDir dir;
  const std::string eight = dir.File("eight.tif"), sixteen = dir.File("sixteen.tif");
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", kPhoto, eight}).Status, 0);
  const CliRun run = RunCliInProcess({"tonemap", "-q", "--depth", "16", kPhoto, sixteen});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TiffFacts bytes = ReadTiffFacts(eight), words = ReadTiffFacts(sixteen);
  EXPECT_EQ(bytes.Depth, 8);
  EXPECT_TRUE(bytes.Description.empty());  // the classic header stays as it is
  EXPECT_EQ(words.Depth, 16);
  EXPECT_TRUE(words.HasProfile);
  EXPECT_EQ(words.Software, kSoftware);
  EXPECT_EQ(words.Description,
            "tone-mapped from dawn-crop.hdr with classic brightness=0.8 contrast=1.2 warm=0");
  ASSERT_EQ(words.Samples.size(), bytes.Samples.size());
  ASSERT_FALSE(words.Samples.empty());
  for (std::size_t i = 0; i < words.Samples.size(); ++i)
    ASSERT_LE(std::abs(words.Samples[i] / 257.0 - bytes.Samples[i]), 0.51) << "at " << i;

  // `info` lists the tags it carries.
  const CliRun info = RunCliInProcess({"info", sixteen});
  ASSERT_EQ(info.Status, 0) << info.Err;
  EXPECT_NE(info.Out.find(kSoftware), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find(words.Description), std::string::npos);
}

TEST(PublishedOutputs, PngTextsTellHowItWasMadeUnlessStripped) {
  TempDir dir;
  const std::string kept = dir.File("kept.png"), stripped = dir.File("stripped.png");
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", "reinhard02", "--key", "0.25",
                             "--depth", "16", kPhoto, kept})
                .Status,
            0);
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--strip", kPhoto, stripped}).Status, 0);
  const PngFacts facts = ReadPngFacts(kept);
  EXPECT_EQ(facts.Texts.at("Software"), kSoftware);
  EXPECT_TRUE(
      facts.Texts.at("Description")
          .starts_with("tone-mapped from dawn-crop.hdr with reinhard02 key=0.25 white=auto"))
      << facts.Texts.at("Description");
  const PngFacts bare = ReadPngFacts(stripped);
  EXPECT_TRUE(bare.Texts.empty());
  EXPECT_TRUE(bare.Srgb);
}

nlohmann::json InfoObject(const std::string& path) {
  const CliRun run = RunCliInProcess({"info", "--json", path});
  EXPECT_EQ(run.Status, 0) << run.Err;
  return run.Status == 0 ? nlohmann::json::parse(run.Out) : nlohmann::json();
}

// `info` reads back, with libpng and libjpeg, what the outputs carry; its
// texts and comments are those the libraries read here.
TEST(PublishedOutputs, InfoShowsWhatPngAndJpegOutputsRecordAndNoneWhenStripped) {
  TempDir dir;
  const std::string png = dir.File("kept.png"), jpeg = dir.File("kept.jpg");
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", "reinhard02", "--key", "0.25",
                             "--depth", "16", kPhoto, png})
                .Status,
            0);
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", "drago03", "--exposure", "1.5",
                             "--saturation", "0.75", kPhoto, jpeg})
                .Status,
            0);
  const PngFacts pngFacts = ReadPngFacts(png);
  const JpegFacts jpegFacts = ReadJpegFacts(jpeg);
  const nlohmann::json pngInfo = InfoObject(png), jpegInfo = InfoObject(jpeg);
  EXPECT_EQ(pngInfo["format"], "PNG");
  EXPECT_EQ(pngInfo["width"], 160);
  EXPECT_EQ(pngInfo["height"], 80);
  EXPECT_EQ(pngInfo["header"]["bit_depth"], 16);
  EXPECT_EQ(pngInfo["header"]["srgb"], "perceptual");
  EXPECT_NEAR(pngInfo["header"]["gamma"].get<double>(), 0.45455, 1e-9);
  EXPECT_NEAR(pngInfo["header"]["chromaticities"]["white"][0].get<double>(), 0.3127, 1e-6);
  std::map<std::string, std::string> texts;
  for (const auto& text : pngInfo["header"]["texts"]) texts[text["keyword"]] = text["text"];
  EXPECT_EQ(texts, pngFacts.Texts);
  EXPECT_TRUE(pngInfo["channels"].is_null() && pngInfo["dynamic_range"].is_null());
  EXPECT_EQ(jpegInfo["format"], "JPEG");
  EXPECT_EQ(jpegInfo["header"]["components"], 3);
  EXPECT_EQ(jpegInfo["header"]["comments"], jpegFacts.Comments);
  EXPECT_EQ(jpegInfo["header"]["icc_profile"]["description"], jpegFacts.ProfileDescription);
  ASSERT_EQ(jpegFacts.Comments.size(), 2u);
  EXPECT_TRUE(jpegFacts.Comments[1].starts_with(
      "tone-mapped from dawn-crop.hdr with drago03 bias=0.85 max-percentile=99.9 exposure=1.5 "
      "saturation=0.75"))
      << jpegFacts.Comments[1];

  // The text names the same, line by line.
  const CliRun text = RunCliInProcess({"info", png, jpeg});
  ASSERT_EQ(text.Status, 0) << text.Err;
  EXPECT_NE(text.Out.find("Format: PNG\nSize: 160 x 80 pixels\nByte order: big\n"
                          "Image header: 16-bit RGB, not interlaced\nColour: sRGB (perceptual); "
                          "gamma 0.45455;"),
            std::string::npos)
      << text.Out;
  EXPECT_NE(text.Out.find("  Description (tEXt): \"" + pngFacts.Texts.at("Description") + "\"\n"),
            std::string::npos);
  EXPECT_NE(text.Out.find("Comments (COM segments):\n  \"" + kSoftware + "\"\n  \"" +
                          jpegFacts.Comments[1] + "\"\n"),
            std::string::npos);

  // Stripped outputs record nothing, and info says so.
  const std::string barePng = dir.File("bare.png"), bareJpeg = dir.File("bare.jpg");
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--strip", kPhoto, barePng}).Status, 0);
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--strip", kPhoto, bareJpeg}).Status, 0);
  EXPECT_TRUE(InfoObject(barePng)["header"]["texts"].empty());
  EXPECT_TRUE(InfoObject(bareJpeg)["header"]["comments"].empty());
  const CliRun bare = RunCliInProcess({"info", barePng, bareJpeg});
  EXPECT_NE(bare.Out.find("Texts: none\n"), std::string::npos) << bare.Out;
  EXPECT_NE(bare.Out.find("Comments: none\n"), std::string::npos) << bare.Out;
  EXPECT_EQ(bare.Out.find("tone-mapped"), std::string::npos);

  // A PNG cut after its image header is described as far as it goes; one cut
  // within it, and a JPEG cut before its frame, are not.
  std::vector<std::uint8_t> bytes = ReadBytes(png);
  bytes.resize(40);
  WriteBytes(dir.File("cut.png"), bytes);
  const CliRun cut = RunCliInProcess({"info", dir.File("cut.png")});
  EXPECT_EQ(cut.Status, 0);
  EXPECT_NE(cut.Out.find("Size: 160 x 80 pixels"), std::string::npos) << cut.Out;
  EXPECT_NE(cut.Err.find("the header cannot be read whole"), std::string::npos) << cut.Err;
  bytes.resize(20);
  WriteBytes(dir.File("short.png"), bytes);
  bytes = ReadBytes(jpeg);
  bytes.resize(30);
  WriteBytes(dir.File("short.jpg"), bytes);
  for (const char* name : {"short.png", "short.jpg"}) {
    const CliRun refused = RunCliInProcess({"info", dir.File(name)});
    EXPECT_EQ(refused.Status, 1) << name;
    EXPECT_NE(refused.Err.find("header cannot be read: "), std::string::npos) << refused.Err;
  }
  // They stay outputs only: no job reads them.
  const CliRun job = RunCliInProcess({"tonemap", png, dir.File("again.tif")});
  EXPECT_EQ(job.Status, 1);
  EXPECT_NE(job.Err.find("is not a Radiance, TIFF, PFM or OpenEXR file"), std::string::npos);
}

// PNG's tEXt is Latin-1: a name beyond it goes in iTXt as UTF-8, a Latin-1
// name in tEXt as Latin-1; info gives both back in UTF-8.
TEST(PublishedOutputs, PngTextsHoldAnyInputNameUnmangled) {
  TempDir dir;
  const std::string wide = "nuit-\u00e9toil\u00e9e-\u6771\u4eac.hdr", latin = "caf\u00e9.hdr";
  std::filesystem::copy_file(kPhoto, dir.File(wide));
  std::filesystem::copy_file(kPhoto, dir.File(latin));
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", dir.File(wide), dir.File("wide.png")}).Status, 0);
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", dir.File(latin), dir.File("latin.png")}).Status, 0);
  const std::string settings = " with classic brightness=0.8 contrast=1.2 warm=0";
  const PngFacts wideFacts = ReadPngFacts(dir.File("wide.png"));
  EXPECT_EQ(wideFacts.Texts.at("Description"), "tone-mapped from " + wide + settings);
  EXPECT_EQ(wideFacts.Chunks.at("Description"), PNG_ITXT_COMPRESSION_NONE);
  EXPECT_EQ(wideFacts.Texts.at("Software"), kSoftware);
  EXPECT_EQ(wideFacts.Chunks.at("Software"), PNG_TEXT_COMPRESSION_NONE);
  const PngFacts latinFacts = ReadPngFacts(dir.File("latin.png"));
  EXPECT_EQ(latinFacts.Texts.at("Description"), "tone-mapped from caf\xe9.hdr" + settings);
  EXPECT_EQ(latinFacts.Chunks.at("Description"), PNG_TEXT_COMPRESSION_NONE);

  for (const auto& [output, name] : {std::pair{"wide.png", wide}, std::pair{"latin.png", latin}}) {
    const nlohmann::json info = InfoObject(dir.File(output));
    ASSERT_EQ(info["header"]["texts"].size(), 2u) << output;
    EXPECT_EQ(info["header"]["texts"][1]["text"], "tone-mapped from " + name + settings);
  }
  const CliRun text = RunCliInProcess({"info", dir.File("wide.png")});
  EXPECT_NE(text.Out.find("Description (iTXt): \"tone-mapped from " + wide), std::string::npos)
      << text.Out;
}

}  // namespace
}  // namespace lumivane::testing
