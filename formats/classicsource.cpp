#include "formats/classicsource.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "formats/rgbe.h"
#include "formats/rgbeteam.h"
#include "io/binaryfile.h"
#include "io/parallel.h"

namespace lumivane {

namespace {

ImageDescription Describe(const ClassicLayout& layout) {
  ImageDescription description;
  description.FormatName = layout.FormatName;
  description.Width = layout.Width;
  description.Height = layout.Height;
  return description;
}

class RadianceSource final : public ImageRowSource {
 public:
  RadianceSource(BinaryFile& file, const ClassicLayout& layout)
      : file_(file), layout_(layout), description_(Describe(layout)) {
    const std::uint64_t size = file.Size().value_or(0);
    bytes_ = size > layout.DataStart ? size - layout.DataStart : 0;
    Start();
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    const std::size_t width = layout_.Width;
    while (rowCount > 0) {
      std::uint32_t rows = 0;
      if (used_ == block_.Rows) {
        if (decoder_->Finished()) {
          error = "more rows asked for than the image has";
          return false;
        }
        // Each piece's rows that are asked for become floats on the thread
        // that decoded them, while they are still in its cache.
        const std::uint32_t first = nextRow_, wanted = rowCount;
        const auto convert = [&](const RgbeBlockDecoder::Block& piece) {
          const std::uint32_t from = piece.FirstRow - first;
          if (from >= wanted) return;
          const std::uint32_t count = std::min(piece.Rows, wanted - from);
          RgbeBlockToFloats(piece, 0, width * count, destination + 3 * width * from);
        };
        if (!DecodeNextRgbeBlock(*decoder_, workers_, convert)) {
          error = "a row head that no Radiance row form allows";
          return false;
        }
        block_ = decoder_->Last();
        used_ = 0;
        rows = std::min(rowCount, block_.Rows);
      } else {
        // The rest of a block decoded for an earlier call.
        rows = std::min(rowCount, block_.Rows - used_);
        const std::size_t at = width * used_;
        workers_.Run(rows, [&](std::size_t begin, std::size_t end) {
          RgbeBlockToFloats(block_, at + width * begin, width * (end - begin),
                            destination + 3 * width * begin);
        });
      }
      destination += 3 * width * rows;
      used_ += rows;
      nextRow_ += rows;
      rowCount -= rows;
    }
    return true;
  }

  bool Rewind(std::string&) override {
    Start();
    return true;
  }

  std::uint32_t CompleteRows() const override {
    return std::min(decoder_->CompleteRows(), nextRow_);
  }
  std::array<std::uint32_t, 3> RowKinds() const override {
    const auto& counts = decoder_->RowCounts();
    return {counts[0], counts[1], counts[2]};
  }

 private:
  void Start() {
    decoder_.reset();
    stream_ = std::make_unique<RgbeStream>(file_, layout_.DataStart, bytes_);
    const std::uint32_t rowsPerBlock =
        std::min(RowsPerWave(layout_.Width, kRgbeTeamBlockPixels), std::max(layout_.Height, 1u));
    decoder_ =
        std::make_unique<RgbeBlockDecoder>(*stream_, layout_.Width, layout_.Height, rowsPerBlock);
    block_ = {};
    used_ = 0;
    nextRow_ = 0;
  }

  BinaryFile& file_;
  ClassicLayout layout_;
  ImageDescription description_;
  RowWorkers workers_;
  std::uint64_t bytes_ = 0;
  std::unique_ptr<RgbeStream> stream_;
  std::unique_ptr<RgbeBlockDecoder> decoder_;
  RgbeBlockDecoder::Block block_{};
  std::uint32_t used_ = 0;
  std::uint32_t nextRow_ = 0;
};

class StoredFloatSource final : public PositionedRowSource {
 public:
  StoredFloatSource(BinaryFile& file, const ClassicLayout& layout)
      : file_(file), layout_(layout), description_(Describe(layout)) {}

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    const std::size_t rowBytes = std::size_t{layout_.Width} * 12;
    if (rowCount > layout_.Height - nextRow_) {
      error = "more rows asked for than the image has";
      return false;
    }
    // Stored rows [first, first + rowCount): the same rows, backwards, when
    // the bottom row is stored first.
    const std::uint64_t first =
        layout_.BottomUp ? layout_.Height - nextRow_ - rowCount : std::uint64_t{nextRow_};
    bytes_.resize(rowBytes * rowCount);
    if (file_.ReadAt(bytes_.data(), bytes_.size(), layout_.DataStart + first * rowBytes) !=
        bytes_.size()) {
      error = "the file is shorter than its header promises";
      return false;
    }
    for (std::uint32_t y = 0; y < rowCount; ++y) {
      const std::uint32_t stored = layout_.BottomUp ? rowCount - 1 - y : y;
      Load(bytes_.data() + rowBytes * stored, std::size_t{layout_.Width} * 3,
           destination + std::size_t{layout_.Width} * 3 * y);
    }
    nextRow_ += rowCount;
    return true;
  }

 private:
  void Load(const std::uint8_t* bytes, std::size_t count, float* out) const {
    if (layout_.IntelOrder && std::endian::native == std::endian::little) {
      std::memcpy(out, bytes, count * 4);
      return;
    }
    // Byte k of each float holds bits 8k to 8k + 7, counted from its low end.
    const int low = layout_.IntelOrder ? 0 : 3, step = layout_.IntelOrder ? 1 : -1;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* b = bytes + 4 * i;
      std::uint32_t bits = 0;
      for (int k = 0; k < 4; ++k) bits |= std::uint32_t{b[low + step * k]} << (8 * k);
      out[i] = std::bit_cast<float>(bits);
    }
  }

  BinaryFile& file_;
  ClassicLayout layout_;
  ImageDescription description_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenClassicSource(BinaryFile& file, const ClassicLayout& layout) {
  if (layout.Radiance) return std::make_unique<RadianceSource>(file, layout);
  return std::make_unique<StoredFloatSource>(file, layout);
}

}  // namespace lumivane
