// Radiance files written by the peers, decoded by this program and by the peers.
//
// This program decodes a pixel (M, E) as (M + 0.5) / 256 x 2^(E - 128), the
// centre of the mantissa step. OpenImageIO, ImageMagick and pfstools decode it
// as M / 256 x 2^(E - 128), the step's lower end, and give 0 for E = 0. Every
// value this program decodes is (2M + 1) x 2^(E - 137), so the bytes M and E
// can be recovered from it and the peer's value computed exactly from them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "shell/dispatch.h"
#include "tests/interop/peers.h"

namespace lumivane::interop {
namespace {

struct Size {
  std::uint32_t Width, Height;
};

// Wider and narrower than 256, below 8 (stored flat by every writer), one
// column and one row.
const std::vector<Size> kSizes = {{300, 7}, {37, 5}, {5, 3}, {1, 9}, {263, 1}};

struct Writer {
  std::string Name;
  std::vector<std::string> Tools;
  // Writes `hdr` from the scene; given the scene as PFM and as a float TIFF.
  std::string (*Command)(const std::string& pfm, const std::string& tiff, const std::string& hdr);
  // ImageMagick 6 Q16 holds pixels as 16-bit quanta, clamped to [0, 1].
  bool Quantum = false;
  // What the writer multiplies the values by.
  float Scale = 1.0f;
};

const std::vector<Writer> kWriters = {
    {"oiiotool",
     {"oiiotool"},
     [](const std::string& pfm, const std::string&, const std::string& hdr) {
       return "oiiotool " + Quote(pfm) + " -o " + Quote(hdr);
     }},
    {"ImageMagick",
     {kMagick},
     [](const std::string& pfm, const std::string&, const std::string& hdr) {
       return std::string(kMagick) + " " + Quote(pfm) + " " + Quote(hdr);
     },
     true},
    {"pfsout",
     {"pfsin", "pfsout"},
     [](const std::string& pfm, const std::string&, const std::string& hdr) {
       return "pfsin " + Quote(pfm) + " | pfsout " + Quote(hdr);
     }},
    // luminance-hdr cannot load PFM files; it is given the 96-bit TIFF that
    // this program converted from the same PFM.
    {"luminance-hdr-cli",
     {"luminance-hdr-cli"},
     [](const std::string&, const std::string& tiff, const std::string& hdr) {
       return "QT_QPA_PLATFORM=offscreen luminance-hdr-cli -l " + Quote(tiff) + " -s " +
              Quote(hdr) + " >/dev/null";
     },
     false,
     // Radiance's luminous efficacy of white light, 179 lm/W.
     1.0f / 179.0f},
};

std::uint32_t LoggedCount(const std::string& log, const std::string& label) {
  const std::size_t at = log.find("\n" + label + " ");
  if (at == std::string::npos) return UINT32_MAX;
  return static_cast<std::uint32_t>(std::stoul(log.substr(at + label.size() + 2)));
}

// The value the peers decode from (M, E).
double LowerEnd(const RgbeCode& code) {
  return code.E == 0 ? 0.0 : std::ldexp(static_cast<double>(code.M), code.E - 136);
}

// OpenImageIO's and ImageMagick's decoding of `hdr`, whose values this
// program decoded to `codes`.
void CompareWithOiioAndMagick(const TempDir& dir, const std::string& hdr,
                              const std::vector<RgbeCode>& codes) {
  // OpenImageIO: the lower end of the step, exactly.
  const std::string oiioTiff = dir.File("oiio.tif");
  const Ran oiio =
      Shell(dir, "oiiotool " + Quote(hdr) + " -d float --compression none -o " + Quote(oiioTiff));
  ASSERT_EQ(oiio.Status, 0) << oiio.Err;
  const auto theirs = TifffileFloats(dir, oiioTiff);
  ASSERT_TRUE(theirs);
  ASSERT_EQ(theirs->Values.size(), codes.size());
  for (std::size_t i = 0; i < codes.size(); ++i)
    ASSERT_EQ(theirs->Values[i], static_cast<float>(LowerEnd(codes[i]))) << "value " << i;

  // ImageMagick: the lower end as a 16-bit quantum, rounded and clamped.
  // The file is marked linear; relabelling it as sRGB keeps the quanta.
  const Ran magick = Shell(dir, std::string(kMagick) + " " + Quote(hdr) +
                                    " -set colorspace sRGB -depth 16 -endian LSB rgb:-");
  ASSERT_EQ(magick.Status, 0) << magick.Err;
  ASSERT_EQ(magick.Out.size(), codes.size() * 2);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const auto low = static_cast<unsigned char>(magick.Out[2 * i]);
    const auto high = static_cast<unsigned char>(magick.Out[2 * i + 1]);
    const double quantum = std::min(65535.0, std::floor(65535.0 * LowerEnd(codes[i]) + 0.5));
    ASSERT_EQ(low | high << 8, quantum) << "value " << i;
  }
}

TEST(RadiancePeers, OurDecodingIsTheExactFormulaOfWhatEachPeerDecodes) {
  if (!HavePeers({"oiiotool", kMagick, "pfsin", "pfsout", "tifffile"}))
    GTEST_SKIP() << "oiiotool, ImageMagick, pfstools or tifffile is not installed";
  TempDir dir;
  std::set<std::string> rowKinds;
  std::set<std::string> nonConforming;
  for (const Writer& writer : kWriters) {
    if (!HavePeers(writer.Tools)) {
      ADD_FAILURE() << writer.Name << " is not installed";
      continue;
    }
    for (const Size size : kSizes) {
      SCOPED_TRACE(writer.Name + " " + std::to_string(size.Width) + " x " +
                   std::to_string(size.Height));
      const FloatImage scene =
          writer.Quantum ? QuantumScene(size.Width, size.Height) : Scene(size.Width, size.Height);
      const std::string scenePfm = dir.File("scene.pfm");
      const std::string sceneTiff = dir.File("scene.tif");
      testing::WriteBytes(scenePfm, testing::StandardPfm(scene, true));
      ASSERT_EQ(RunCli(dir, {"convert", "-q", scenePfm, sceneTiff}).Status, 0);
      const std::string hdr = dir.File("peer.hdr");
      std::filesystem::remove(hdr);
      const Ran written = Shell(dir, writer.Command(scenePfm, sceneTiff, hdr));
      ASSERT_EQ(written.Status, 0) << written.Err;

      // Our two float outputs of the file.
      const Ran toPfm = RunCli(dir, {"convert", hdr, dir.File("ours.pfm")});
      ASSERT_EQ(toPfm.Status, 0) << toPfm.Err << toPfm.Out;
      const Ran toTiff = RunCli(dir, {"convert", "-q", hdr, dir.File("ours.tif")});
      ASSERT_EQ(toTiff.Status, 0) << toTiff.Err;
      const auto ours = ParsePfm(testing::ReadBytes(dir.File("ours.pfm")));
      ASSERT_TRUE(ours);
      ASSERT_EQ(ours->Width, size.Width);
      ASSERT_EQ(ours->Height, size.Height);
      EXPECT_EQ(OurTiff96(testing::ReadBytes(dir.File("ours.tif")), size.Width, size.Height).Values,
                ours->Values);
      const std::uint32_t flat = LoggedCount(toPfm.Out, "RLE-0 Lines:");
      const std::uint32_t runs = LoggedCount(toPfm.Out, "RLE-2 Lines:");
      EXPECT_EQ(flat + runs, size.Height) << toPfm.Out;
      if (flat > 0) rowKinds.insert("flat");
      if (runs > 0) rowKinds.insert("runs");

      // Every value is (2M + 1) x 2^(E - 137) with one E per pixel, and lies
      // within the writer's mantissa step of the scene: the rows are upright.
      const std::size_t pixels = std::size_t{size.Width} * size.Height;
      std::vector<RgbeCode> codes(pixels * 3);
      for (std::size_t i = 0; i < pixels * 3; ++i) {
        const auto code = RgbeCodeOf(ours->Values[i]);
        ASSERT_TRUE(code) << "value " << i << " = " << ours->Values[i];
        codes[i] = *code;
        if (i % 3 == 2) {
          ASSERT_EQ(codes[i - 2].E, code->E) << "pixel " << i / 3;
          ASSERT_EQ(codes[i - 1].E, code->E) << "pixel " << i / 3;
        }
        const float step = std::ldexp(2.0f, code->E - 137);
        ASSERT_NEAR(ours->Values[i], scene.Values[i] * writer.Scale,
                    PixelMaximum(scene, i / 3) * writer.Scale / 64 + step)
            << "value " << i;
      }

      // Tone-mapped, the file gives the operator's bytes for those values.
      const std::string mapped = dir.File("mapped.tif");
      const Ran toneMap = RunCli(dir, {"tonemap", "-q", hdr, mapped});
      ASSERT_EQ(toneMap.Status, 0) << toneMap.Err;
      const Bytes mappedFile = testing::ReadBytes(mapped);
      ASSERT_EQ(mappedFile.size(), 308 + pixels * 3);
      ASSERT_TRUE(Bytes(mappedFile.begin() + 308, mappedFile.end()) ==
                  ExpectedToneMap(*ours, 0.8f, PostGammaFromContrast(1.2f), false, true));

      // Rows of fewer than 8 pixels in run-length form (pfstools writes them)
      // are read as flat pixels by OpenImageIO and ImageMagick, as by
      // Radiance itself; this program and pfstools decode the runs.
      if (size.Width < 8 && runs > 0) {
        nonConforming.insert(writer.Name);
      } else {
        CompareWithOiioAndMagick(dir, hdr, codes);
      }
      if (HasFatalFailure()) return;

      // pfstools: the lower end, through its RGB > XYZ > RGB round trip.
      const Ran pfs = Shell(dir, "pfsin " + Quote(hdr) + " | pfsout " + Quote(dir.File("pfs.pfm")));
      ASSERT_EQ(pfs.Status, 0) << pfs.Err;
      const auto viaPfs = ParsePfm(testing::ReadBytes(dir.File("pfs.pfm")));
      ASSERT_TRUE(viaPfs);
      ASSERT_EQ(viaPfs->Values.size(), pixels * 3);
      for (std::size_t i = 0; i < pixels * 3; ++i) {
        const double largest = std::max({LowerEnd(codes[i / 3 * 3]), LowerEnd(codes[i / 3 * 3 + 1]),
                                         LowerEnd(codes[i / 3 * 3 + 2])});
        ASSERT_NEAR(viaPfs->Values[i], LowerEnd(codes[i]), largest * 4e-6) << "value " << i;
      }
    }
  }
  EXPECT_EQ(rowKinds, (std::set<std::string>{"flat", "runs"}));
  for (const std::string& name : nonConforming)
    std::cout << name << " stores rows narrower than 8 pixels in run-length form\n";
}

}  // namespace
}  // namespace lumivane::interop
