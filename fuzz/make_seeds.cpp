// Writes the seed corpora of the fuzz targets: small valid files of every
// input format and row kind, built by the tests' own file makers.
//   lumivane_fuzz_seeds FOLDER   makes FOLDER/<target>/<seed>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/hostilefiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace {

namespace fs = std::filesystem;
using lumivane::testing::Bytes;
using namespace lumivane::testing;

struct Seed {
  std::string Name;
  Bytes Data;
};

std::vector<Seed> HdrSeeds() {
  std::vector<Seed> seeds;
  const std::pair<RgbeRowForm, const char*> forms[] = {{RgbeRowForm::Flat, "flat"},
                                                       {RgbeRowForm::ComponentRuns, "runs"},
                                                       {RgbeRowForm::OldRuns, "old"}};
  for (const auto& [form, name] : forms) {
    seeds.push_back({std::string("hdr-") + name, HdrFile(PatternImage(12, 5), form)});
    seeds.push_back({std::string("hdr-wide-") + name, HdrFile(PatternImage(300, 2, 7), form)});
  }
  const std::string noExposure = HdrHeaderText({"FORMAT=32-bit_rle_rgbe"}, 4, 3);
  seeds.push_back({"hdr-no-exposure",
                   HdrFile(noExposure, EncodeRgbeRows(PatternImage(4, 3), RgbeRowForm::Flat))});
  const std::string comments = HdrHeaderText(
      {"# made by a peer", "FORMAT=32-bit_rle_xyze", "EXPOSURE=0.5", "GAMMA=1"}, 3, 2);
  seeds.push_back({"hdr-comments", HdrFile(comments, EncodeRgbeRows(PatternImage(3, 2),
                                                                    RgbeRowForm::ComponentRuns))});
  return seeds;
}

std::vector<Seed> TiffSeeds() {
  std::vector<Seed> seeds;
  for (const bool intel : {true, false}) {
    const std::string order = intel ? "ii" : "mm";
    seeds.push_back({"tiff-" + order, FloatTiff(GradientImage(4, 3), {intel})});
    FloatTiffOptions strips{intel};
    strips.RowsPerStrip = 1;
    seeds.push_back({"tiff-strips-" + order, FloatTiff(GradientImage(3, 4), strips)});
  }
  return seeds;
}

std::vector<Seed> PfmSeeds() {
  return {{"pfm-le", StandardPfm(GradientImage(4, 3), true)},
          {"pfm-be", StandardPfm(GradientImage(3, 4), false)},
          {"pfm-crlf", Pfm("PF\n2  2\r\n-2.5\r\n", GradientImage(2, 2), true)}};
}

// Files of the library readers: written through the libraries into a scratch
// file, then kept as bytes.
std::vector<Seed> LibrarySeeds(const fs::path& scratch) {
  std::vector<Seed> seeds;
  const std::string path = (scratch / "library-seed").string();
  const std::pair<const char*, LibraryTiffOptions> tiffs[] = {
      {"tiff-deflate", {.Compression = 8, .RowsPerStrip = 2}},
      {"tiff-tiles", {.Tile = 16, .BigEndian = true}},
      {"tiff-half-planar", {.Bits = 16, .Compression = 5, .RowsPerStrip = 3, .Planar = true}},
      {"tiff-grey8-alpha",
       {.Bits = 8, .Float = false, .RowsPerStrip = 4, .Grey = true, .Alpha = true}},
  };
  for (const auto& [name, layout] : tiffs) {
    WriteLibraryTiff(path, GradientImage(5, 4), layout);
    seeds.push_back({name, ReadBytes(path)});
  }
  const std::pair<const char*, ExrOptions> exrs[] = {
      {"exr-zip", {}},
      {"exr-piz-tiles", {.Half = false, .Compression = 4, .Tile = 16, .OriginX = -1, .OriginY = 2}},
      {"exr-grey", {.Compression = 0, .Grey = true}},
  };
  for (const auto& [name, layout] : exrs) {
    WriteExr(path, GradientImage(5, 4), layout);
    seeds.push_back({name, ReadBytes(path)});
  }
  WriteExr(path, GradientImage(5, 4), {.Decreasing = true});
  seeds.push_back({"exr-decreasing", ReadBytes(path)});
  fs::remove(path);
  return seeds;
}

// Files that claim far more than they hold: huge strips, tiles and sample
// counts, and OpenEXR data windows that their chunks do not fill.
std::vector<Seed> HostileSeeds(const fs::path& scratch) {
  std::vector<Seed> seeds = {
      {"tiff-deflate-40000", CompressedStripTiff(40000, 40000, 8)},
      {"tiff-lzw-20000", CompressedStripTiff(20000, 20000, 5)},
      {"tiff-lzw-3000", CompressedStripTiff(3000, 3000, 5)},
      {"tiff-one-strip", HugeStripTiff(30000, 30000)},
      {"tiff-samples", ManySamplesTiff(20000, 20000, 65535)},
      {"tiff-samples-small", ManySamplesTiff(256, 256, 130)},
      {"tiff-big-tiles", BigTileTiff(8192, 8192, 4096)},
  };
  const std::string path = (scratch / "hostile-seed").string();
  WriteExr(path, GradientImage(16, 16), {});
  const Bytes zip = ReadBytes(path);
  WriteExr(path, GradientImage(64, 2), {.Compression = 0});
  const Bytes raw = ReadBytes(path);
  fs::remove(path);
  seeds.push_back({"exr-wide-200m", ResizedExrWindow(zip, 200000000, 1)});
  seeds.push_back({"exr-wide-100k", ResizedExrWindow(zip, 100000, 1)});
  seeds.push_back({"exr-wide-raw", ResizedExrWindow(raw, 1000, 1)});
  seeds.push_back({"exr-tall-raw", ResizedExrWindow(raw, 64, 40)});
  seeds.push_back({"exr-cut", Bytes(zip.begin(), zip.end() - 40)});
  return seeds;
}

void Write(const fs::path& folder, const std::vector<Seed>& seeds, const Bytes& prefix = {},
           const std::string& namePrefix = "") {
  fs::create_directories(folder);
  for (const Seed& seed : seeds) {
    Bytes data = prefix;
    data.insert(data.end(), seed.Data.begin(), seed.Data.end());
    WriteBytes((folder / (namePrefix + seed.Name)).string(), data);
  }
}

// The first byte of a job seed picks the chain of `command`.
Bytes ChainByte(int command) {
  const auto chains = lumivane::DefaultJobChains();
  for (std::size_t i = 0; i < chains.size(); ++i)
    if (chains[i].CommandId == command) return {static_cast<std::uint8_t>(i)};
  return {0};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  const auto hdr = HdrSeeds();
  const auto tiff = TiffSeeds();
  const auto pfm = PfmSeeds();
  Write(root / "radiance_header", hdr);
  Write(root / "tiff_reader", tiff);
  Write(root / "pfm_reader", pfm);
  auto library = LibrarySeeds(root);
  for (Seed& seed : HostileSeeds(root)) library.push_back(std::move(seed));
  std::vector<Seed> tiffRows = tiff, exrRows, pfmRows = pfm;
  for (const Seed& seed : library)
    (seed.Name.starts_with("exr") ? exrRows : tiffRows).push_back(seed);
  pfmRows.push_back(
      {"pfm-comments", Pfm("PF\n#?RADIANCE\n3 2\n# c\n1.0\n", GradientImage(3, 2), false)});
  pfmRows.push_back({"pfm-grey", Pfm("Pf\n3 2\n-1\n", GradientImage(1, 2), true)});
  Write(root / "tiff_rows", tiffRows);
  Write(root / "exr_rows", exrRows);
  Write(root / "pfm_rows", pfmRows);

  // The decoder's seeds: the size bytes (width - 1 in two bytes, height - 1),
  // then the pixel data alone.
  std::vector<Seed> rows;
  const std::pair<RgbeRowForm, const char*> forms[] = {{RgbeRowForm::Flat, "flat"},
                                                       {RgbeRowForm::ComponentRuns, "runs"},
                                                       {RgbeRowForm::OldRuns, "old"}};
  for (const auto& [form, name] : forms) {
    for (const auto& [width, height] : {std::pair{12u, 5u}, std::pair{300u, 3u}}) {
      Bytes data = {static_cast<std::uint8_t>((width - 1) & 0xFF),
                    static_cast<std::uint8_t>((width - 1) >> 8),
                    static_cast<std::uint8_t>(height - 1)};
      const Bytes encoded = EncodeRgbeRows(PatternImage(width, height, width), form);
      data.insert(data.end(), encoded.begin(), encoded.end());
      rows.push_back({std::string(name) + "-" + std::to_string(width), data});
    }
  }
  Write(root / "rgbe", rows);

  const fs::path job = root / "job";
  for (const int command :
       {lumivane::kOpenHdrCommand, lumivane::kHdrToTiffCommand, lumivane::kHdrToPfmCommand})
    Write(job, hdr, ChainByte(command), std::to_string(command) + "-");
  for (const int command : {lumivane::kOpenTiffCommand, lumivane::kTiffToPfmCommand})
    Write(job, tiff, ChainByte(command), std::to_string(command) + "-");
  for (const int command : {lumivane::kOpenPfmCommand, lumivane::kPfmToTiffCommand})
    Write(job, pfm, ChainByte(command), std::to_string(command) + "-");
  return 0;
}
