// What a published output carries: its depth, its colour tag and how it was made.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {
namespace {

const std::string kPhoto = std::string(LUMIVANE_SOURCE_DIR) + "/tests/data/dawn-crop.hdr";

struct PngFacts {
  int Depth = 0;
  bool Srgb = false;
  std::map<std::string, std::string> Texts;
  std::vector<unsigned> Samples;  // every channel value, rows top first
};

PngFacts ReadPngFacts(const std::string& path) {
  PngFacts facts;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return facts;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return {};
  }
  png_init_io(png, file);
  png_read_info(png, info);
  facts.Depth = png_get_bit_depth(png, info);
  int intent = 0;
  facts.Srgb = png_get_sRGB(png, info, &intent) != 0;
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) facts.Texts[texts[i].key] = texts[i].text;
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  std::vector<png_byte> row(png_get_rowbytes(png, info));
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (png_uint_32 i = 0; i < width * 3; ++i)
      facts.Samples.push_back(facts.Depth == 16 ? row[2 * i] * 256u + row[2 * i + 1] : row[i]);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return facts;
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

}  // namespace
}  // namespace lumivane::testing
