// lumivane-cli info: the facts of a file, and the statistics block the
// tone-mapping job logs for it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::TempDir;

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

Result RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), "lumivane-cli");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  Result result;
  result.Status = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, false);
  result.Out = out.str();
  result.Err = err.str();
  return result;
}

// The six lines from "Statistics (" on.
std::string StatisticsBlock(const std::string& text) {
  const std::size_t start = text.find("Statistics (Low, High, Sum, Average of values)\n");
  if (start == std::string::npos) return "";
  std::size_t end = start;
  for (int line = 0; line < 6 && end != std::string::npos; ++line) end = text.find('\n', end) + 1;
  return text.substr(start, end - start);
}

TEST(Info, ShowsTheJobsStatisticsAndCountsOddValues) {
  TempDir dir;
  testing::FloatImage image = testing::GradientImage(3, 2);
  image.Values[1] = std::numeric_limits<float>::quiet_NaN();
  image.Values[4] = std::numeric_limits<float>::infinity();
  image.Values[8] = -2.5f;
  image.Values[9] = -std::numeric_limits<float>::infinity();
  testing::WriteBytes(dir.File("odd.pfm"), testing::StandardPfm(image, false));
  testing::WriteBytes(dir.File("odd.tif"), testing::FloatTiff(image));
  const std::string sample = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";

  for (const std::string& file : {dir.File("odd.pfm"), dir.File("odd.tif"), sample}) {
    const Result job = RunCli({"tonemap", file, dir.File("out.tif")});
    ASSERT_EQ(job.Status, 0) << job.Err;
    const Result info = RunCli({"info", file});
    EXPECT_EQ(info.Status, 0) << info.Err;
    EXPECT_EQ(StatisticsBlock(info.Out), StatisticsBlock(job.Out)) << file;
    EXPECT_NE(StatisticsBlock(info.Out), "");
  }
  const Result pfm = RunCli({"info", dir.File("odd.pfm")});
  EXPECT_NE(pfm.Out.find("Format: PFM\nSize: 3 x 2 pixels\nByte order: most significant byte "
                         "first\n"),
            std::string::npos)
      << pfm.Out;
  EXPECT_NE(pfm.Out.find("NaN values: 1\nInfinite values: 2\nNegative values: 2\n"),
            std::string::npos)
      << pfm.Out;

  const Result json = RunCli({"info", "--json", dir.File("odd.tif"), sample});
  EXPECT_EQ(json.Status, 0);
  std::istringstream lines(json.Out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["format"], "TIFF");
  EXPECT_EQ(objects[0]["byte_order"], "least significant byte first");
  EXPECT_EQ(objects[0]["nan_values"], 1);
  EXPECT_EQ(objects[0]["infinite_values"], 2);
  EXPECT_EQ(objects[0]["negative_values"], 2);
  EXPECT_EQ(objects[1]["format"], "Radiance");
  EXPECT_EQ(objects[1]["width"], 512);
  EXPECT_EQ(objects[1]["height"], 256);
  EXPECT_EQ(objects[1]["header"][0], "#?RADIANCE");
  EXPECT_GT(objects[1]["dynamic_range"].get<double>(), 1e6);
  std::string logged;
  for (const auto& line : objects[1]["statistics_log"]) logged += line.get<std::string>() + "\n";
  EXPECT_EQ(logged, StatisticsBlock(RunCli({"info", sample}).Out));

  // A file that cannot be read is named with the reason; the others still come.
  testing::WriteText(dir.File("short.pfm"), "PF\n4 4\n-1.0\n");
  const Result mixed = RunCli({"info", dir.File("missing.hdr"), dir.File("short.pfm"), sample});
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_EQ(mixed.Err, "lumivane-cli: " + dir.File("missing.hdr") +
                           ": No such file or directory\nlumivane-cli: " + dir.File("short.pfm") +
                           ": " + dir.File("short.pfm") + " is shorter than its header promises\n");
  EXPECT_NE(mixed.Out.find("Format: Radiance"), std::string::npos);
}

}  // namespace
}  // namespace lumivane
