// Float TIFFs and PFMs written by the peers, tone-mapped by this program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/dispatch.h"
#include "tests/interop/peers.h"

namespace lumivane::interop {
namespace {

struct PeerFile {
  std::string Name;
  std::string Path;
  // pfstools passes every value through XYZ and back.
  bool Exact = true;
};

// Tone-maps `input` with the defaults and with warm colours; both results
// must be the operator's bytes for `floats`, row for row.
void ExpectToneMapOf(const TempDir& dir, const std::string& input, const FloatImage& floats) {
  const float postGamma = PostGammaFromContrast(1.2f);
  for (const bool warm : {false, true}) {
    SCOPED_TRACE(warm ? "warm colours" : "grey average");
    const std::string output = dir.File("mapped.tif");
    std::vector<std::string> args = {"tonemap", "-q", input, output};
    if (warm) args.insert(args.begin() + 1, "--warm");
    const Ran ran = RunCli(dir, args);
    ASSERT_EQ(ran.Status, 0) << ran.Err;
    EXPECT_EQ(ran.Err, "");
    const Bytes file = testing::ReadBytes(output);
    const std::size_t pixels = std::size_t{floats.Width} * floats.Height;
    ASSERT_EQ(file.size(), 308 + pixels * 3);
    const Bytes expected = ExpectedToneMap(floats, 0.8f, postGamma, warm);
    ASSERT_TRUE(Bytes(file.begin() + 308, file.end()) == expected);
  }
}

// The floats as the peer wrote them, read by an independent reader.
std::optional<FloatImage> PeerFloats(const TempDir& dir, const PeerFile& file) {
  if (file.Path.ends_with(".pfm")) return ParsePfm(testing::ReadBytes(file.Path));
  return TifffileFloats(dir, file.Path);
}

void CheckPeerFiles(const TempDir& dir, const std::vector<PeerFile>& files,
                    const FloatImage& scene) {
  for (const PeerFile& file : files) {
    SCOPED_TRACE(file.Name);
    const auto floats = PeerFloats(dir, file);
    ASSERT_TRUE(floats);
    ASSERT_EQ(floats->Width, scene.Width);
    ASSERT_EQ(floats->Height, scene.Height);
    // The peer kept the scene upright (and, but for pfstools, exactly).
    for (std::size_t i = 0; i < scene.Values.size(); ++i) {
      if (file.Exact) {
        ASSERT_EQ(floats->Values[i], scene.Values[i]) << "value " << i;
      } else {
        ASSERT_NEAR(floats->Values[i], scene.Values[i], PixelMaximum(scene, i / 3) * 4e-6)
            << "value " << i;
      }
    }
    ExpectToneMapOf(dir, file.Path, *floats);
    if (::testing::Test::HasFatalFailure()) return;

    // The same floats in this suite's own containers give the same bytes.
    const std::string bigPfm = dir.File("same.pfm");
    testing::WriteBytes(bigPfm, testing::StandardPfm(*floats, false));
    ExpectToneMapOf(dir, bigPfm, *floats);
    const std::string stripTiff = dir.File("same.tif");
    testing::WriteBytes(stripTiff,
                        testing::FloatTiff(*floats, {.IntelOrder = false, .RowsPerStrip = 2}));
    ExpectToneMapOf(dir, stripTiff, *floats);
  }
}

const std::vector<std::pair<std::uint32_t, std::uint32_t>> kSizes = {
    {301, 37}, {37, 5}, {1, 7}, {9, 1}};

TEST(FloatInputPeers, TiffsFromTifffileAndOiiotoolInBothOrdersAndStripLayouts) {
  if (!HavePeers({"tifffile", "oiiotool", "tiffcp"}))
    GTEST_SKIP() << "tifffile, oiiotool or tiffcp is not installed";
  for (const auto& [width, height] : kSizes) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    TempDir dir;
    const FloatImage scene = Scene(width, height);
    const std::string pfm = dir.File("scene.pfm");
    testing::WriteBytes(pfm, testing::StandardPfm(scene, true));
    const std::string raw = dir.File("scene.raw");
    testing::WriteBytes(raw, testing::PixelRows(scene, 0, height));

    std::vector<PeerFile> files;
    // tifffile: each byte order, one strip and strips of 1 and 3 rows.
    std::string script =
        "import sys, numpy, tifffile\n"
        "a = numpy.fromfile(sys.argv[1], '<f4').reshape(" +
        std::to_string(height) + ", " + std::to_string(width) + ", 3)\n";
    for (const char* order : {"<", ">"}) {
      for (const char* rows : {"None", "1", "3"}) {
        const std::string path =
            dir.File(std::string("tifffile") + (*order == '<' ? "-II-" : "-MM-") + rows + ".tif");
        script += "tifffile.imwrite(" + Quote(path) + ", a, photometric='rgb', byteorder='" +
                  order + "', rowsperstrip=" + rows + ")\n";
        files.push_back({path.substr(dir.Path().string().size() + 1), path});
      }
    }
    testing::WriteText(dir.File("write.py"), script);
    const Ran python =
        Shell(dir, std::string(kPython) + " " + Quote(dir.File("write.py")) + " " + Quote(raw));
    ASSERT_EQ(python.Status, 0) << python.Err;

    // oiiotool writes "II" strips of 32 rows, or of the rows it is told;
    // libtiff's tiffcp turns them into "MM".
    const std::string oiio = dir.File("oiiotool.tif");
    const std::string oiioRows = dir.File("oiiotool-rows2.tif");
    const std::string oiioBig = dir.File("oiiotool-MM.tif");
    for (const auto& [path, extra] : std::vector<std::pair<std::string, std::string>>{
             {oiio, ""}, {oiioRows, " --attrib tiff:RowsPerStrip 2"}}) {
      const Ran ran = Shell(dir, "oiiotool " + Quote(pfm) + " -d float --compression none" + extra +
                                     " -o " + Quote(path));
      ASSERT_EQ(ran.Status, 0) << ran.Err;
    }
    ASSERT_EQ(Shell(dir, "tiffcp -B -c none " + Quote(oiioRows) + " " + Quote(oiioBig)).Status, 0);
    files.push_back({"oiiotool", oiio});
    files.push_back({"oiiotool RowsPerStrip 2", oiioRows});
    files.push_back({"oiiotool, tiffcp -B (MM)", oiioBig});
    for (const PeerFile& file : files) {
      const Bytes bytes = testing::ReadBytes(file.Path);
      ASSERT_GE(bytes.size(), 2u) << file.Name;
      EXPECT_EQ(bytes[0], file.Name.find("MM") != std::string::npos ? 'M' : 'I') << file.Name;
    }
    CheckPeerFiles(dir, files, scene);
    if (HasFatalFailure()) return;
  }
}

TEST(FloatInputPeers, PfmsFromImageMagickAndPfstools) {
  if (!HavePeers({kMagick, "pfsin", "pfsoutpfm"}))
    GTEST_SKIP() << "ImageMagick or pfstools is not installed";
  for (const auto& [width, height] : kSizes) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    TempDir dir;
    // ImageMagick 6 Q16 keeps 16-bit quanta in [0, 1]: it is given values it
    // can hold, so that what it writes is the scene itself.
    const FloatImage quanta = QuantumScene(width, height);
    const std::string quantaPfm = dir.File("quanta.pfm");
    testing::WriteBytes(quantaPfm, testing::StandardPfm(quanta, true));
    std::vector<PeerFile> magickFiles;
    for (const char* order : {"LSB", "MSB"}) {
      const std::string path = dir.File(std::string("magick-") + order + ".pfm");
      const Ran ran = Shell(dir, std::string(kMagick) + " " + Quote(quantaPfm) + " -endian " +
                                     order + " " + Quote(path));
      ASSERT_EQ(ran.Status, 0) << ran.Err;
      magickFiles.push_back({std::string("ImageMagick -endian ") + order, path});
    }
    // A positive scale marks the most significant byte first.
    EXPECT_EQ(testing::ReadBytes(magickFiles[1].Path)
                  .at(3 + std::to_string(width).size() + 1 + std::to_string(height).size() + 1),
              '1');
    CheckPeerFiles(dir, magickFiles, quanta);
    if (HasFatalFailure()) return;

    const FloatImage scene = Scene(width, height);
    const std::string scenePfm = dir.File("scene.pfm");
    testing::WriteBytes(scenePfm, testing::StandardPfm(scene, true));
    const std::string pfs = dir.File("pfs.pfm");
    const Ran ran = Shell(dir, "pfsin " + Quote(scenePfm) + " | pfsoutpfm " + Quote(pfs));
    ASSERT_EQ(ran.Status, 0) << ran.Err;
    CheckPeerFiles(dir, {{"pfsoutpfm", pfs, false}}, scene);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace lumivane::interop
