// Small files that claim huge images, strips, tiles or sample counts are
// refused by every verb before they allocate; the pixel and buffer limits
// move with --max-pixels, --max-memory and their environment variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hostilefiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUMIVANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIVANE_ADDRESS_SANITIZER 1
#endif
#endif

namespace lumivane {
namespace {

using robustness::CliResult;
using robustness::RunCli;
using testing::Bytes;
using testing::TempDir;

// About 1.2 GB of address space: a reader that allocated what these files
// claim fails at once instead of eating the machine. The address sanitizer
// reserves terabytes at start, so there the limit cannot be set.
#if defined(LUMIVANE_ADDRESS_SANITIZER) || defined(LUMIVANE_SANITIZED_BUILD)
const std::string kAddressLimit;
#else
const std::string kAddressLimit = "ulimit -v 1200000";
#endif

const std::string kRaisePixels = "(--max-pixels or LUMIVANE_MAX_PIXELS raises it)";
const std::string kRaiseMemory = "(--max-memory or LUMIVANE_MAX_MEMORY raises it)";

struct Hostile {
  std::string Name;
  Bytes File;
  std::string Reason;
};

Bytes SmallExr(const TempDir& dir, std::uint32_t width, std::uint32_t height, int compression) {
  const std::string path = dir.File("valid.exr");
  testing::WriteExr(path, testing::GradientImage(width, height), {.Compression = compression});
  return testing::ReadBytes(path);
}

TEST(Limits, HostileFilesAreRefusedByEveryVerbBeforeTheyAllocate) {
  TempDir dir;
  const std::vector<Hostile> files = {
      {"deflate-40000.tif", testing::CompressedStripTiff(40000, 40000, 8),
       "it claims 40000 x 40000 pixels (1600000000), more than the limit of 1073741824 pixels " +
           kRaisePixels},
      // Within the limits (and the 4 GiB a conversion takes): read row by
      // row, refused where the data ends.
      {"lzw-18000.tif", testing::CompressedStripTiff(18000, 18000, 5),
       "row 1 could not be decoded"},
      {"one-strip.tif", testing::HugeStripTiff(30000, 30000), "beyond the end of the file"},
      {"samples.tif", testing::ManySamplesTiff(20000, 20000, 65535),
       "it claims rows of 20000 pixels of 65535 samples; one row of samples needs 1310700000 "
       "bytes, more than the limit of 1073741824 bytes for one buffer " +
           kRaiseMemory},
      {"tiles.tif", testing::BigTileTiff(8192, 8192, 4096),
       "its tile 1 of 4 claims 201326592 bytes from byte 8, beyond the end of the file"},
      {"wide-200m.exr", testing::ResizedExrWindow(SmallExr(dir, 64, 64, 3), 200000000, 1),
       "it claims rows of 200000000 pixels; one row as float RGB needs 2400000000 bytes, more "
       "than the limit of 1073741824 bytes for one buffer " +
           kRaiseMemory},
      {"wide-100k.exr", testing::ResizedExrWindow(SmallExr(dir, 64, 64, 3), 100000, 1),
       "its first chunk does not decode to the pixels its header claims"},
      {"wide-raw.exr", testing::ResizedExrWindow(SmallExr(dir, 256, 4, 0), 100000, 1),
       "its chunk of row 0 is uncompressed but holds 1536 bytes, not the 600000 of its pixels"},
      {"tall.exr", testing::ResizedExrWindow(SmallExr(dir, 256, 256, 0), 256, 1024),
       "its chunk table does not cover its data window"},
  };
  for (const Hostile& file : files) {
    SCOPED_TRACE(file.Name);
    const std::string input = dir.File(file.Name);
    testing::WriteBytes(input, file.File);
    for (const std::string verb : {"info", "tonemap", "convert"}) {
      SCOPED_TRACE(verb);
      const std::string output = dir.File(verb == "tonemap" ? "out.tif" : "out.exr");
      std::vector<std::string> args = {verb, input};
      if (verb != "info") args.push_back(output);
      const CliResult result = RunCli(dir, args, kAddressLimit);
      EXPECT_EQ(result.Status, 1) << result.Err;
      EXPECT_NE(result.Err.find(input + ": "), std::string::npos) << result.Err;
      EXPECT_NE(result.Err.find(file.Reason), std::string::npos) << result.Err;
      EXPECT_EQ(result.Err.find("ot enough memory"), std::string::npos) << result.Err;
      EXPECT_FALSE(testing::FileExists(output));
    }
  }
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
