#include "formats/floatsinks.h"

#include <bit>
#include <cstring>
#include <vector>

#include "formats/pfmheader.h"
#include "formats/tiffheaderbytes.h"
#include "io/binaryfile.h"

namespace lumivane {

namespace {

void StoreLittleEndian(const float* source, std::size_t count, std::uint8_t* out) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, source, count * sizeof(float));
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      const auto bits = std::bit_cast<std::uint32_t>(source[i]);
      for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
  }
}

class StoredFloatSink final : public FloatRowSink {
 public:
  StoredFloatSink(BinaryFile& file, std::uint32_t width, std::uint32_t height, bool bottomUp)
      : file_(file),
        width_(width),
        height_(height),
        bottomUp_(bottomUp),
        dataStart_(file.Position()) {}

  bool WriteRows(const float* source, std::uint32_t rowCount, std::string& error) override {
    const std::size_t rowFloats = std::size_t{width_} * 3;
    const std::size_t rowBytes = rowFloats * 4;
    bytes_.resize(rowBytes * rowCount);
    for (std::uint32_t y = 0; y < rowCount; ++y) {
      const std::uint32_t at = bottomUp_ ? rowCount - 1 - y : y;
      StoreLittleEndian(source + rowFloats * y, rowFloats, bytes_.data() + rowBytes * at);
    }
    const std::uint64_t firstStored = bottomUp_ ? height_ - next_ - rowCount : next_;
    next_ += rowCount;
    if (file_.WriteAt(bytes_.data(), bytes_.size(), dataStart_ + firstStored * rowBytes))
      return true;
    error = file_.ErrorText();
    return false;
  }

  bool Finish(std::string& error) override {
    if (file_.Seek(dataStart_ + std::uint64_t{width_} * 12 * height_)) return true;
    error = file_.ErrorText();
    return false;
  }

 private:
  BinaryFile& file_;
  std::uint32_t width_, height_;
  bool bottomUp_;
  std::uint64_t dataStart_;
  std::uint32_t next_ = 0;
  std::vector<std::uint8_t> bytes_;
};

bool FitsClassicFloatFile(std::uint32_t width, std::uint32_t height, std::string& error) {
  const std::uint64_t bytes = std::uint64_t{width} * height * 12;
  if (width != 0 && height != 0 && bytes <= 0xFFFFFFFFu) return true;
  error = "width or height 0, or more than 4 GiB of pixels";
  return false;
}

template <typename Header>
std::unique_ptr<FloatRowSink> Open(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                   const Header& header, bool bottomUp, std::string& error) {
  if (!file.Write(header.data(), header.size())) {
    error = file.ErrorText();
    return nullptr;
  }
  return std::make_unique<StoredFloatSink>(file, width, height, bottomUp);
}

}  // namespace

std::unique_ptr<FloatRowSink> OpenTiff96Sink(BinaryFile& file, std::uint32_t width,
                                             std::uint32_t height, std::string& error) {
  if (!FitsClassicFloatFile(width, height, error)) return nullptr;
  return Open(file, width, height, Tiff96HeaderBytes(width, height), false, error);
}

std::unique_ptr<FloatRowSink> OpenPfmSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, std::string& error) {
  if (!FitsClassicFloatFile(width, height, error)) return nullptr;
  return Open(file, width, height, PfmHeaderText(width, height), true, error);
}

}  // namespace lumivane
