// Sizes that do not fit: headers that claim more pixels than any job can
// hold are refused before a large allocation, and an image that the memory
// limit cannot hold fails with a clear message instead of a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
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

// The address sanitizer reserves terabytes of address space at start, so a
// limit on it (ulimit -v) cannot be used there.
constexpr bool kCanLimitAddressSpace =
#if defined(LUMIVANE_ADDRESS_SANITIZER) || defined(LUMIVANE_SANITIZED_BUILD)
    false;
#else
    true;
#endif

// 512 MiB of address space, in the kilobytes of ulimit -v: far below any of
// the claimed images, far above what the program needs for a small one.
const std::string kMemoryLimit = "ulimit -v 524288";

Bytes HdrClaiming(std::uint32_t width, std::uint32_t height) {
  const std::string header = testing::HdrHeaderText({"FORMAT=32-bit_rle_rgbe"}, width, height);
  return testing::HdrFile(header, {2, 2, 0, 8, 1, 2, 3, 4});
}

Bytes TiffClaiming(std::uint32_t width, std::uint32_t height) {
  testing::TiffBuilder tiff(true);
  const std::uint32_t data = tiff.Append(Bytes(48, 0x3F));
  tiff.Entry(256, 4, 1, tiff.Long(width));
  tiff.Entry(257, 4, 1, tiff.Long(height));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(259, 3, 1, tiff.Short(1));
  tiff.Entry(273, 4, 1, tiff.Long(data));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  return tiff.Build();
}

Bytes PfmClaiming(const std::string& width, const std::string& height) {
  const std::string header = "PF\n" + width + " " + height + "\n-1.0\n";
  Bytes file(header.begin(), header.end());
  file.resize(file.size() + 48, 0);
  return file;
}

struct Claim {
  std::string Name;
  std::string InputName;
  Bytes File;
  std::vector<std::string> Outputs;  // one job per output: its extension picks it
  std::string Expected;              // in the message, after the input's path
  std::string Size;                  // "W x H", for the writers' refusals
};

void ExpectRefused(const CliResult& result, const std::string& expected) {
  EXPECT_EQ(result.Status, 1) << result.Err;
  EXPECT_NE(result.Err.find(expected), std::string::npos) << result.Err;
  EXPECT_EQ(result.Err.find("Not enough memory"), std::string::npos)
      << "an allocation was tried: " << result.Err;
  EXPECT_EQ(result.Out.find("concluded"), std::string::npos);
}

TEST(Sizes, HeadersClaimingImagesThatDoNotFitAreRefusedBeforeAllocating) {
  const std::string hdrTooLarge = " has an image size that cannot be handled";
  const std::string tiffTooLarge = " has a width or height of 0, or more than 4 GiB of pixels.";
  const std::string pfmTooLarge = " is too large: its pixels take more than 4 GiB";
  const std::vector<Claim> claims = {
      {"Radiance 100000 x 100000",
       "in.hdr",
       HdrClaiming(100000, 100000),
       {"out.tif", "out96.tif", "out.pfm"},
       hdrTooLarge,
       ""},
      {"Radiance 4294967295 x 1",
       "in.hdr",
       HdrClaiming(4294967295u, 1),
       {"out.tif", "out96.tif", "out.pfm"},
       "",
       "4294967295 x 1"},
      {"Radiance 1 x 4294967295",
       "in.hdr",
       HdrClaiming(1, 4294967295u),
       {"out.tif", "out96.tif", "out.pfm"},
       "",
       "1 x 4294967295"},
      {"TIFF 100000 x 100000",
       "in.tif",
       TiffClaiming(100000, 100000),
       {"out.tif", "out.pfm"},
       tiffTooLarge,
       ""},
      {"TIFF 4294967295 x 1",
       "in.tif",
       TiffClaiming(4294967295u, 1),
       {"out.tif", "out.pfm"},
       tiffTooLarge,
       ""},
      {"PFM 100000 x 100000",
       "in.pfm",
       PfmClaiming("100000", "100000"),
       {"out.tif", "out96.tif"},
       pfmTooLarge,
       ""},
      {"PFM 4294967295 x 1",
       "in.pfm",
       PfmClaiming("4294967295", "1"),
       {"out.tif", "out96.tif"},
       pfmTooLarge,
       ""},
  };
  for (const Claim& claim : claims) {
    SCOPED_TRACE(claim.Name);
    TempDir dir;
    const std::string input = dir.File(claim.InputName);
    testing::WriteBytes(input, claim.File);
    for (std::size_t i = 0; i < claim.Outputs.size(); ++i) {
      const std::string output = dir.File(claim.Outputs[i]);
      SCOPED_TRACE(output);
      // The first output is the tone-mapped TIFF, the others conversions.
      const std::string verb = i == 0 ? "tonemap" : "convert";
      // A Radiance size that fits 32 bits is refused by the writer, for the
      // bytes of its output: a TIFF or PFM counts them in 32 bits. The
      // reader's pixel limit, raised, lets it through to the writer.
      std::vector<std::string> args = {verb, input, output};
      if (claim.Expected.empty()) args.insert(args.begin() + 1, {"--max-pixels", "4294967296"});
      const CliResult result = RunCli(dir, args, kCanLimitAddressSpace ? kMemoryLimit : "");
      const std::string expected =
          !claim.Expected.empty() ? input + claim.Expected
          : claim.Outputs[i].ends_with(".pfm")
              ? "Cannot write a PFM of " + claim.Size + " pixels"
              : "Cannot write " + output + ": the image is too large for a TIFF file";
      ExpectRefused(result, expected);
      EXPECT_FALSE(testing::FileExists(output));
    }
    EXPECT_EQ(testing::ReadBytes(input), claim.File);
  }
}

// A few bytes of header may declare one row of a hundred million pixels: the
// Radiance jobs, which hold at least one row in several forms, refuse it
// before they allocate.
TEST(Sizes, RadianceRowsTooWideForMemoryAreRefused) {
  TempDir dir;
  const std::string input = dir.File("wide.hdr");
  const Bytes file = HdrClaiming(100000000, 1);
  testing::WriteBytes(input, file);
  for (const std::string output : {"out.tif", "out96.tif", "out.pfm"}) {
    SCOPED_TRACE(output);
    const CliResult result =
        RunCli(dir, {output == "out.tif" ? "tonemap" : "convert", input, dir.File(output)},
               kCanLimitAddressSpace ? kMemoryLimit : "");
    ExpectRefused(result, "lumivane-cli: LUMIVANE - Abort.: " + input +
                              " has rows of 100000000 pixels; at most 4194304 pixels per row "
                              "can be read.");
    EXPECT_FALSE(testing::FileExists(dir.File(output)));
  }
  EXPECT_EQ(testing::ReadBytes(input), file);
}

TEST(Sizes, ImagesBeyondTheMemoryLimitAreStreamedToTheirRealFault) {
  if (!kCanLimitAddressSpace)
    GTEST_SKIP() << "the address sanitizer's reserved address space defeats ulimit -v";
  TempDir dir;
  // Radiance images are decoded a block of rows at a time: sizes that would
  // take 3.6 GB and 1.4 GB held whole get, within the limit, as far as the
  // data's own fault.
  struct Case {
    std::uint32_t Width, Height;
    std::string Verb, Output;
  };
  for (const Case& c :
       {Case{30000, 30000, "tonemap", "out.tif"}, Case{18900, 18900, "convert", "out.tif"},
        Case{18900, 18900, "convert", "out.pfm"}}) {
    SCOPED_TRACE(c.Verb + " " + c.Output);
    const std::string input = dir.File("big.hdr");
    const Bytes file = HdrClaiming(c.Width, c.Height);
    testing::WriteBytes(input, file);
    const std::string output = dir.File(c.Output);
    const CliResult result = RunCli(dir, {c.Verb, input, output}, kMemoryLimit);
    EXPECT_EQ(result.Status, 1) << result.Err;
    EXPECT_NE(result.Err.find("lumivane-cli: LUMIVANE - Abort.: RLE type 2 header error."),
              std::string::npos)
        << result.Err;
    EXPECT_EQ(result.Err.find("Not enough memory"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out.find("concluded"), std::string::npos);
    EXPECT_FALSE(testing::FileExists(output));
    EXPECT_EQ(testing::ReadBytes(input), file);
  }
  // Float images are streamed by rows: a short file is refused by its size,
  // whatever the memory limit.
  const std::string pfm = dir.File("big.pfm");
  testing::WriteBytes(pfm, PfmClaiming("18900", "18900"));
  const CliResult streamed = RunCli(dir, {"tonemap", pfm, dir.File("pfm.tif")}, kMemoryLimit);
  EXPECT_EQ(streamed.Status, 1);
  EXPECT_NE(streamed.Err.find(pfm + " is shorter than its header promises"), std::string::npos)
      << streamed.Err;
}

}  // namespace
}  // namespace lumivane
