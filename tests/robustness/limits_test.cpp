// The pixel and buffer limits move with --max-pixels, --max-memory and their
// environment variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using robustness::CliResult;
using robustness::RunCli;
using testing::Bytes;
using testing::TempDir;

const std::string kRaisePixels = "(--max-pixels or LUMIVANE_MAX_PIXELS raises it)";
const std::string kRaiseMemory = "(--max-memory or LUMIVANE_MAX_MEMORY raises it)";

Bytes SmallExr(const TempDir& dir, std::uint32_t width, std::uint32_t height, int compression) {
  const std::string path = dir.File("valid.exr");
  testing::WriteExr(path, testing::GradientImage(width, height), {.Compression = compression});
  return testing::ReadBytes(path);
}

TEST(Limits, FlagsAndEnvironmentRaiseAndLowerBothLimits) {
  TempDir dir;
  // 64 x 64: 4096 pixels, rows of 768 bytes as floats; as EXR (the library
  // reader) and as a 96-bit TIFF (the classic one).
  const std::string exr = dir.File("small.exr");
  testing::WriteBytes(exr, SmallExr(dir, 64, 64, 3));
  const std::string tiff = dir.File("small.tif");
  testing::WriteBytes(tiff, testing::FloatTiff(testing::GradientImage(64, 64)));
  struct Case {
    std::string Environment;
    std::vector<std::string> Flags;
    std::string Refusal;  // empty: read
  };
  const std::string pixels = "it claims 64 x 64 pixels (4096), more than the limit of 4095 pixels ";
  const std::string row =
      "it claims rows of 64 pixels; one row as float RGB needs 768 bytes, more than the limit of ";
  const std::vector<Case> cases = {
      {"", {}, ""},
      {"", {"--max-pixels", "4095"}, pixels + kRaisePixels},
      {"", {"--max-pixels", "4096"}, ""},
      {"LUMIVANE_MAX_PIXELS=4095", {}, pixels + kRaisePixels},
      {"LUMIVANE_MAX_PIXELS=4095", {"--max-pixels", "4096"}, ""},
      {"", {"--max-memory", "767"}, row + "767 bytes for one buffer " + kRaiseMemory},
      // The EXR's chunks of 16 rows take 6144 bytes.
      {"", {"--max-memory", "8k"}, ""},
      {"LUMIVANE_MAX_MEMORY=700", {}, row + "700 bytes for one buffer " + kRaiseMemory},
      {"LUMIVANE_MAX_MEMORY=700", {"--max-memory", "1M"}, ""},
  };
  for (const Case& c : cases) {
    for (const std::string& input : {exr, tiff}) {
      for (const std::string verb : {"info", "tonemap"}) {
        std::vector<std::string> args = {verb, input};
        if (verb == "tonemap") args.push_back(dir.File("out.tif"));
        args.insert(args.end(), c.Flags.begin(), c.Flags.end());
        SCOPED_TRACE(c.Environment + " " + verb + " " + input +
                     (c.Flags.empty() ? "" : " " + c.Flags[0] + " " + c.Flags[1]));
        const CliResult result =
            RunCli(dir, args, c.Environment.empty() ? "" : "export " + c.Environment);
        EXPECT_EQ(result.Status, c.Refusal.empty() ? 0 : 1) << result.Err;
        if (!c.Refusal.empty()) {
          EXPECT_NE(result.Err.find("Cannot read " + input + ": " + c.Refusal), std::string::npos)
              << result.Err;
        }
      }
    }
  }
  // Values that are no count or size are usage errors, from a flag or the environment.
  for (const auto& [environment, flags] :
       std::vector<std::pair<std::string, std::string>>{{"", "--max-pixels=0"},
                                                        {"", "--max-memory=12X"},
                                                        {"", "--max-memory=99999999999999999999"},
                                                        {"LUMIVANE_MAX_PIXELS=many", ""},
                                                        {"LUMIVANE_MAX_MEMORY=1T", ""}}) {
    SCOPED_TRACE(environment + flags);
    std::vector<std::string> args = {"info", exr};
    if (!flags.empty()) args.push_back(flags);
    const CliResult result = RunCli(dir, args, environment.empty() ? "" : "export " + environment);
    EXPECT_EQ(result.Status, 2) << result.Err;
    const std::string named = environment.empty() ? flags.substr(0, flags.find('='))
                                                  : environment.substr(0, environment.find('='));
    EXPECT_NE(result.Err.find(named), std::string::npos) << result.Err;
  }
}

}  // namespace
}  // namespace lumivane
