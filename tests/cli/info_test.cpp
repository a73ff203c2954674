// lumivane-cli info: each channel's own statistics, the dynamic range of the
// luminance, the header as it stands in the file, rows of a cut Radiance
// file, and JSON Lines that survive a file that cannot be read.
#include <ImfRgbaFile.h>
#include <ImfStandardAttributes.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "cli/streams.h"
#include "tests/support/operatorrun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::CliRun;
using testing::RunCliInProcess;

using nlohmann::json;
using testing::TempDir;

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> objects;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) objects.push_back(json::parse(line));
  return objects;
}

json InfoJson(const std::string& path) {
  const CliRun info = RunCliInProcess({"info", "--json", path});
  EXPECT_EQ(info.Status, 0) << info.Err;
  const std::vector<json> objects = JsonLines(info.Out);
  return objects.size() == 1 ? objects[0] : json();
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Red: 1 -2.5 NaN 4 .5 +inf; green: 2 .25 1 -inf 3 -1; blue: 3 8 -0 .5 .001 2.
testing::FloatImage OddImage() {
  testing::FloatImage image;
  image.Width = 3;
  image.Height = 2;
  image.Values = {1, 2,     3,    -2.5f, 0.25f, 8,      kNaN, 1,  -0.0f,
                  4, -kInf, 0.5f, 0.5f,  3,     0.001f, kInf, -1, 2};
  return image;
}

TEST(Info, EachChannelHasItsOwnStatisticsWhateverTheReader) {
  TempDir dir;
  const testing::FloatImage image = OddImage();
  testing::WriteBytes(dir.File("big.pfm"), testing::StandardPfm(image, false));
  testing::WriteBytes(dir.File("little.tif"), testing::FloatTiff(image));
  testing::WriteBytes(dir.File("big.tif"), testing::FloatTiff(image, {.IntelOrder = false}));
  testing::WriteLibraryTiff(dir.File("deflate.tif"), image, {.Compression = 8});
  testing::WriteExr(dir.File("float.exr"), image, {.Half = false});
  const std::vector<std::pair<std::string, json>> files = {{"big.pfm", "big"},
                                                           {"little.tif", "little"},
                                                           {"big.tif", "big"},
                                                           {"deflate.tif", "little"},
                                                           {"float.exr", "little"}};
  for (const auto& [name, order] : files) {
    SCOPED_TRACE(name);
    const json facts = InfoJson(dir.File(name));
    EXPECT_EQ(facts["byte_order"], order);
    EXPECT_EQ(facts["width"], 3);
    EXPECT_EQ(facts["height"], 2);
    const json& red = facts["channels"]["red"];
    EXPECT_EQ(red, json::parse(R"({"minimum": -2.5, "maximum": 4, "mean": 0.75, "finite": 4,
                                   "below_zero": 1, "nan": 1, "infinite": 1})"));
    const json& green = facts["channels"]["green"];
    EXPECT_EQ(green["minimum"], -1.0);
    EXPECT_EQ(green["maximum"], 3.0);
    EXPECT_DOUBLE_EQ(green["mean"].get<double>(), 5.25 / 5);
    EXPECT_EQ(green["below_zero"], 1);
    EXPECT_EQ(green["infinite"], 1);
    const json& blue = facts["channels"]["blue"];
    // -0 is the smallest value, but not below zero.
    EXPECT_EQ(blue["minimum"], 0.0);
    EXPECT_EQ(blue["maximum"], 8.0);
    EXPECT_DOUBLE_EQ(blue["mean"].get<double>(), (3.0 + 8 + 0.5 + double{0.001f} + 2) / 6);
    EXPECT_EQ(blue["below_zero"], 0);
    EXPECT_EQ(blue["nan"], 0);
    EXPECT_EQ(facts["rows_complete"], nullptr);
  }
  const CliRun text = RunCliInProcess({"info", dir.File("big.pfm")});
  EXPECT_NE(text.Out.find("Format: PFM\nSize: 3 x 2 pixels\nByte order: big\n"
                          "Header (as it stands in the file):\n  PF\n  3 2\n  1.0\n"),
            std::string::npos)
      << text.Out;
  EXPECT_NE(text.Out.find("  red: minimum -2.5, maximum 4, mean 0.75; below zero 1, NaN 1, "
                          "infinite 1\n  green: minimum -1, maximum 3, mean 1.05; below zero 1, "
                          "NaN 0, infinite 1\n"),
            std::string::npos)
      << text.Out;
}

// 1000 pixels of 0.01 and 1000 of 10 between pixels that are black or hold
// only values tone-mapping takes as 0: a range of 1000 : 1.
TEST(Info, DynamicRangeIsTheRatioOfTheLuminancesPercentiles) {
  TempDir dir;
  testing::FloatImage image{2015, 1, {}};
  for (int i = 0; i < 2015; ++i) {
    const float grey = i < 1000 ? 0.01f : i < 2000 ? 10.0f : 0.0f;
    const bool odd = i >= 2010;
    image.Values.insert(image.Values.end(),
                        {odd ? -1.0f : grey, odd ? kNaN : grey, odd ? kInf : grey});
  }
  testing::WriteBytes(dir.File("range.pfm"), testing::StandardPfm(image, true));
  const json range = InfoJson(dir.File("range.pfm"))["dynamic_range"];
  EXPECT_EQ(range["positive_pixels"], 2000);
  EXPECT_NEAR(range["low"].get<double>(), 0.01, 1e-6);
  EXPECT_NEAR(range["high"].get<double>(), 10.0, 1e-5);
  EXPECT_NEAR(range["ratio"].get<double>(), 1000.0, 0.1);
  EXPECT_NEAR(range["stops"].get<double>(), std::log2(1000.0), 1e-4);
  const CliRun text = RunCliInProcess({"info", dir.File("range.pfm")});
  EXPECT_NE(text.Out.find("Dynamic range: 999.9"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find(" : 1 (9.96"), std::string::npos) << text.Out;

  // No pixel of positive luminance: no range.
  testing::FloatImage dark{2, 1, {0, 0, 0, -1, kNaN, 0}};
  testing::WriteBytes(dir.File("dark.pfm"), testing::StandardPfm(dark, true));
  const json none = InfoJson(dir.File("dark.pfm"))["dynamic_range"];
  EXPECT_EQ(none["ratio"], nullptr);
  EXPECT_EQ(none["stops"], nullptr);
  EXPECT_EQ(none["positive_pixels"], 0);
  EXPECT_NE(RunCliInProcess({"info", dir.File("dark.pfm")}).Out.find("Dynamic range: none"),
            std::string::npos);
}

TEST(Info, JsonLinesKeepEveryFileAndNameTheOnesThatFail) {
  TempDir dir;
  const std::string good = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";
  const std::string bad = dir.File("bad.tif");
  // A TIFF whose directory lies beyond its end.
  testing::WriteBytes(bad, {'I', 'I', 42, 0, 0, 1, 0, 0});
  const CliRun mixed = RunCliInProcess({"info", "--json", good, bad, good});
  EXPECT_EQ(mixed.Status, 1);
  const std::vector<json> objects = JsonLines(mixed.Out);
  ASSERT_EQ(objects.size(), 3u) << mixed.Out;
  EXPECT_EQ(objects[0]["file"], good);
  EXPECT_EQ(objects[0]["format"], "Radiance");
  EXPECT_EQ(objects[2], objects[0]);
  ASSERT_EQ(objects[1].size(), 2u);
  EXPECT_EQ(objects[1]["file"], bad);
  const std::string why = objects[1]["error"];
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(mixed.Err, "lumivane-cli: " + bad + ": " + why + "\n");

  // Standard input is "standard input" in every message, and JSON's file is
  // the argument as given.
  const CliRun junk = RunCliInProcess({"info", "--json", "-"}, "junk");
  EXPECT_EQ(junk.Status, 1);
  EXPECT_EQ(junk.Err, "lumivane-cli: standard input: not a Radiance, TIFF, PFM or OpenEXR file\n");
  EXPECT_EQ(JsonLines(junk.Out).at(0)["file"], "-");
  const CliRun twice = RunCliInProcess({"info", "-", good, "-"}, "junk");
  EXPECT_EQ(twice.Status, 2);
  EXPECT_NE(twice.Err.find("standard input (-) is given 2 times as an input; it can be read "
                           "only once"),
            std::string::npos)
      << twice.Err;
  EXPECT_EQ(twice.Out, "");
}

// Encodes `image` row by row as EncodeRgbeRows does; returns where each row ends.
std::vector<std::size_t> RowEnds(const testing::RgbePixels& image, testing::RgbeRowForm form,
                                 std::vector<std::uint8_t>& data) {
  std::vector<std::size_t> ends;
  testing::RgbePixel previous;
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    const testing::RgbePixel* row = &image.Pixels[std::size_t{y} * image.Width];
    const std::vector<std::uint8_t> bytes =
        form == testing::RgbeRowForm::Flat ? testing::EncodeFlatRow(row, image.Width)
        : form == testing::RgbeRowForm::ComponentRuns
            ? testing::EncodeComponentRunRow(row, image.Width)
            : testing::EncodeOldRunRow(row, image.Width, previous);
    data.insert(data.end(), bytes.begin(), bytes.end());
    ends.push_back(data.size());
    previous = row[image.Width - 1];
  }
  return ends;
}

TEST(Info, RadianceHeadersAsTheyStandAndRowsOfDataCutShort) {
  TempDir dir;
  // A row wider than the reader's 256-byte header block.
  const testing::RgbePixels wide = testing::PatternImage(8192, 2);
  testing::WriteBytes(dir.File("wide.hdr"),
                      testing::HdrFile(wide, testing::RgbeRowForm::ComponentRuns));
  const json header = InfoJson(dir.File("wide.hdr"))["header"];
  EXPECT_EQ(header, json::parse(R"({"lines": ["#?RADIANCE", "FORMAT=32-bit_rle_rgbe",
                                              "EXPOSURE=1.0"],
                                    "resolution": "-Y 2 +X 8192", "error": null})"));
  const CliRun text = RunCliInProcess({"info", dir.File("wide.hdr")});
  EXPECT_NE(text.Out.find("Byte order: none\nHeader (as it stands in the file, up to the blank "
                          "line):\n  #?RADIANCE\n  FORMAT=32-bit_rle_rgbe\n  EXPOSURE=1.0\n"
                          "Resolution line: -Y 2 +X 8192\nChannels"),
            std::string::npos)
      << text.Out;
  EXPECT_EQ(text.Out.find("\\x"), std::string::npos);

  const testing::RgbePixels image = testing::PatternImage(40, 6);
  const std::string header6 = testing::StandardHdrHeader(40, 6);
  for (const auto form : {testing::RgbeRowForm::Flat, testing::RgbeRowForm::ComponentRuns,
                          testing::RgbeRowForm::OldRuns}) {
    std::vector<std::uint8_t> data;
    const std::vector<std::size_t> ends = RowEnds(image, form, data);
    ASSERT_EQ(data, testing::EncodeRgbeRows(image, form));
    for (const std::size_t cut : {std::size_t{3}, ends[0] + 1, ends[2], ends[4] - 1, ends[5]}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(form)) + " cut at " + std::to_string(cut));
      const std::uint32_t whole = static_cast<std::uint32_t>(
          std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
      const std::string path = dir.File("cut.hdr");
      testing::WriteBytes(path, testing::HdrFile(header6, {data.begin(), data.begin() + cut}));
      EXPECT_EQ(InfoJson(path)["rows_complete"], whole);
      const CliRun cutText = RunCliInProcess({"info", path});
      const std::string line = "Pixel data end early: " + std::to_string(whole) +
                               " of 6 rows "
                               "complete.";
      EXPECT_EQ(cutText.Out.find(line + "\n") != std::string::npos, whole < 6) << cutText.Out;
      EXPECT_EQ(cutText.Err, whole < 6 ? "lumivane-cli: " + path + ": " + line + "\n" : "");
      EXPECT_EQ(RunCliInProcess({"info", "-q", path}).Err, "");
    }
  }
}

TEST(Info, TiffTagsAndOpenExrAttributesByNameAndValue) {
  TempDir dir;
  testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(testing::GradientImage(5, 4)));
  const json tags = InfoJson(dir.File("in.tif"))["header"]["tags"];
  ASSERT_EQ(tags.size(), 11u) << tags;
  EXPECT_EQ(tags[0], json::parse(R"({"tag": 256, "name": "ImageWidth", "type": "LONG",
                                     "count": 1, "value": [5], "problem": null})"))
      << tags[0];
  const auto named = [&tags](const std::string& name) {
    for (const json& tag : tags)
      if (tag["name"] == name) return tag["value"];
    return json();
  };
  EXPECT_EQ(named("ImageLength"), json::array({4}));
  EXPECT_EQ(named("BitsPerSample"), json::array({32, 32, 32}));
  EXPECT_EQ(named("SampleFormat"), json::array({3, 3, 3}));
  const CliRun text = RunCliInProcess({"info", dir.File("in.tif")});
  EXPECT_NE(text.Out.find("  258 BitsPerSample (SHORT, 3): 32 32 32\n"), std::string::npos)
      << text.Out;

  // Text, a tag libtiff does not know, and values that lie beyond the end.
  const testing::FloatImage image = testing::GradientImage(2, 2);
  testing::TiffBuilder tiff(false);
  const std::uint32_t pixels = tiff.Append(testing::PixelRows(image, 0, 2, false));
  tiff.Entry(256, 4, 1, tiff.Long(2));
  tiff.Entry(257, 4, 1, tiff.Long(2));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(262, 3, 1, tiff.Short(2));
  tiff.Entry(270, 2, 100, tiff.Long(1u << 30));
  tiff.Entry(273, 4, 1, tiff.Long(pixels));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Entry(279, 4, 1, tiff.Long(48));
  tiff.Data(305, 2, 9, {'L', 'U', 'M', 'I', 'V', 'A', 'N', 'E', 0});
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  tiff.Entry(65000, 4, 1000, tiff.Long(1u << 30));
  tiff.Entry(65001, 10, 1, tiff.Long(pixels));
  testing::WriteBytes(dir.File("odd.tif"), tiff.Build());
  const json odd = InfoJson(dir.File("odd.tif"));
  EXPECT_EQ(odd["byte_order"], "big");
  const json& oddTags = odd["header"]["tags"];
  ASSERT_EQ(oddTags.size(), 12u) << oddTags;
  EXPECT_EQ(oddTags[4]["name"], "ImageDescription");
  EXPECT_EQ(oddTags[4]["problem"], "its values lie beyond the end of the file");
  EXPECT_EQ(oddTags[4]["value"], nullptr);
  EXPECT_EQ(oddTags[8]["value"], "LUMIVANE");
  EXPECT_EQ(oddTags[10]["name"], nullptr);
  EXPECT_EQ(oddTags[10]["problem"], "its values lie beyond the end of the file");
  // The first pixel's red and green as a signed fraction.
  EXPECT_EQ(oddTags[11]["type"], "SRATIONAL");
  const auto red = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(image.Values[0]));
  const auto green = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(image.Values[1]));
  EXPECT_EQ(oddTags[11]["value"], json::array({static_cast<double>(red) / green}));
  const CliRun oddText = RunCliInProcess({"info", dir.File("odd.tif")});
  EXPECT_NE(oddText.Out.find("  305 Software (ASCII, 9): \"LUMIVANE\"\n"), std::string::npos)
      << oddText.Out;
  EXPECT_NE(oddText.Out.find("  65000 (unknown tag) (LONG, 1000): its values lie beyond the end "
                             "of the file\n"),
            std::string::npos);

  testing::WriteExr(dir.File("in.exr"), testing::GradientImage(5, 4),
                    {.Half = true, .Compression = 4, .OriginX = 2, .OriginY = 3});
  const json part = InfoJson(dir.File("in.exr"))["header"]["parts"][0];
  EXPECT_EQ(part["compression"], "piz");
  EXPECT_EQ(part["storage"], "scanline");
  EXPECT_EQ(part["channels"][0], json::parse(R"({"name": "B", "pixel_type": "half",
                                                 "x_sampling": 1, "y_sampling": 1})"));
  EXPECT_EQ(part["data_window"],
            json::parse(R"({"x_min": 2, "y_min": 3, "x_max": 6, "y_max": 6})"));
  EXPECT_EQ(part["chromaticities"], nullptr);
  bool aspect = false;
  for (const json& attribute : part["attributes"])
    aspect |= attribute == json::parse(R"({"name": "pixelAspectRatio", "type": "float",
                                           "value": "1"})");
  EXPECT_TRUE(aspect) << part["attributes"];

  // Chromaticities when the file has them, and attributes of its own.
  Imf::Header header(2, 1);
  Imf::addChromaticities(
      header, Imf::Chromaticities({0.64f, 0.33f}, {0.3f, 0.6f}, {0.15f, 0.06f}, {0.3127f, 0.329f}));
  Imf::addOwner(header, "Ada");
  const Imf::Rgba row[2] = {{1, 2, 3, 1}, {4, 5, 6, 1}};
  {
    Imf::RgbaOutputFile file(dir.File("owned.exr").c_str(), header, Imf::WRITE_RGB);
    file.setFrameBuffer(row, 1, 2);
    file.writePixels(1);
  }
  const json owned = InfoJson(dir.File("owned.exr"))["header"]["parts"][0];
  const json& white = owned["chromaticities"]["white"];
  ASSERT_EQ(white.size(), 2u) << owned;
  EXPECT_FLOAT_EQ(white[0].get<float>(), 0.3127f);
  EXPECT_FLOAT_EQ(white[1].get<float>(), 0.329f);
  EXPECT_FLOAT_EQ(owned["chromaticities"]["red"][0].get<float>(), 0.64f);
  EXPECT_NE(owned["attributes"].dump().find(R"({"name":"owner","type":"string","value":"Ada"})"),
            std::string::npos)
      << owned["attributes"];
  EXPECT_NE(RunCliInProcess({"info", dir.File("owned.exr")})
                .Out.find("  Chromaticities: red (0.64, 0.33), green (0.3, 0.6), blue (0.15, "
                          "0.06), white (0.3127, 0.329)\n  owner (string): Ada\n"),
            std::string::npos);
}

using testing::Photographs;

TEST(Info, EveryPhotographGivesOneParsableObjectWithTheKeys) {
  for (const std::string& photo : Photographs()) {
    SCOPED_TRACE(photo);
    const CliRun info = RunCliInProcess({"info", "--json", photo});
    ASSERT_EQ(info.Status, 0) << info.Err;
    // One document, one line: nothing else on standard output.
    ASSERT_EQ(info.Out.find('\n'), info.Out.size() - 1);
    const json facts = json::parse(info.Out);
    for (const char* key : {"file", "format", "width", "height", "byte_order", "header", "channels",
                            "dynamic_range", "rows_complete"})
      EXPECT_TRUE(facts.contains(key)) << key;
    EXPECT_EQ(facts["format"], "OpenEXR");
    EXPECT_EQ(facts["byte_order"], "little");
    const json& part = facts["header"]["parts"][0];
    for (const char* key : {"compression", "channels", "data_window", "display_window",
                            "chromaticities", "attributes"})
      EXPECT_TRUE(part.contains(key)) << key;
    for (const char* channel : {"red", "green", "blue"})
      for (const char* key : {"minimum", "maximum", "mean", "below_zero", "nan", "infinite"})
        EXPECT_TRUE(facts["channels"][channel].contains(key)) << channel << " " << key;
    EXPECT_GT(facts["dynamic_range"]["ratio"].get<double>(), 1.0);
  }
}

}  // namespace
}  // namespace lumivane
