#include "tests/support/operatorrun.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "formats/bytesource.h"
#include "formats/exrrows.h"
#include "imaging/operatortable.h"
#include "io/binaryfile.h"
#include "io/parallel.h"

namespace lumivane::testing {

namespace {

constexpr std::uint32_t kBlockRows = 16;

// The first pass: values below zero and non-finite ones taken as 0, as the
// statistics pass takes them.
void AddFacts(std::vector<float>& rgb, ImageFacts& facts) {
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    float& v = rgb[i];
    if (!(v > 0.0f) || !std::isfinite(v)) v = 0.0f;
    facts.Channels[i % 3].Add(v);
  }
  facts.Luminance.AddPixels(rgb.data(), rgb.size() / 3);
}

}  // namespace

std::optional<OperatorPicture> RunOperator(const std::string& name, const OperatorValues& values,
                                           const std::string& path, unsigned threads,
                                           std::string& error) {
  const OperatorRow* row = FindOperator(name);
  if (!row) {
    error = "no operator named " + name;
    return std::nullopt;
  }
  BinaryFile file = BinaryFile::OpenForReading(path);
  if (!file.IsOpen()) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  std::unique_ptr<ImageRowSource> rows = OpenExrRows(std::make_unique<FileBytes>(file), 1, ReadLimits{}, error);
  if (!rows) return std::nullopt;
  const std::uint32_t width = rows->Description().Width, height = rows->Description().Height;
  const std::unique_ptr<ToneOperator> op = row->Make(values);
  std::unique_ptr<OperatorGatherer> gatherer = op->MakeGatherer(width, height);
  ImageFacts facts;
  facts.Width = width;
  facts.Height = height;
  std::vector<float> block(std::size_t{3} * width * kBlockRows);
  for (std::uint32_t y = 0; y < height; y += kBlockRows) {
    const std::uint32_t n = std::min(kBlockRows, height - y);
    block.resize(std::size_t{3} * width * n);
    if (!rows->ReadRows(block.data(), n, error)) return std::nullopt;
    AddFacts(block, facts);
    if (gatherer) gatherer->AddRows(block.data(), y, n);
  }
  op->Prepare(facts);

  OperatorPicture picture{width, height, std::vector<std::uint8_t>(std::size_t{3} * width * height),
                          op->Describe()};
  if (!rows->Rewind(error)) return std::nullopt;
  RowWorkers workers(std::max(1u, threads));
  for (std::uint32_t y = 0; y < height; y += kBlockRows) {
    const std::uint32_t n = std::min(kBlockRows, height - y);
    block.resize(std::size_t{3} * width * n);
    if (!rows->ReadRows(block.data(), n, error)) return std::nullopt;
    workers.Run(n, [&](std::size_t begin, std::size_t end) {
      for (std::size_t r = begin; r < end; ++r) {
        const std::size_t offset = std::size_t{3} * width * r;
        op->MapPixelsToBytes(block.data() + offset,
                             PixelPlaces{y + static_cast<std::uint32_t>(r), 0, nullptr}, width,
                             picture.Rgb.data() + std::size_t{3} * width * y + offset);
      }
    });
  }
  return picture;
}

std::vector<std::string> Photographs() {
  const char* named = std::getenv("LUMIVANE_PHOTOS");
  const std::filesystem::path folder =
      named && *named ? std::filesystem::path(named)
                      : std::filesystem::path(LUMIVANE_SOURCE_DIR) / "tests/data/photos";
  std::vector<std::string> photos;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().extension() == ".exr") photos.push_back(entry.path().string());
  std::sort(photos.begin(), photos.end());
  if (photos.empty()) photos.push_back(std::string(LUMIVANE_SOURCE_DIR) + "/samples/city.exr");
  return photos;
}

}  // namespace lumivane::testing
