#include "imaging/alpharows.h"

#include <vector>

namespace lumivane {

namespace {

class StraightAlpha final : public ImageRowSource {
 public:
  explicit StraightAlpha(std::shared_ptr<ImageRowSource> source)
      : source_(std::move(source)),
        description_(source_->Description()),
        premultiplied_(description_.Metadata.AlphaAssociated) {
    description_.Metadata.AlphaAssociated = false;
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    alpha_.resize(std::size_t{description_.Width} * rowCount);
    return ReadRowsAndAlpha(destination, alpha_.data(), rowCount, error);
  }

  bool ReadsAlpha() const override { return true; }

  bool ReadRowsAndAlpha(float* destination, float* alpha, std::uint32_t rowCount,
                        std::string& error) override {
    if (!source_->ReadRowsAndAlpha(destination, alpha, rowCount, error)) return false;
    if (!premultiplied_) return true;
    const std::size_t pixels = std::size_t{description_.Width} * rowCount;
    // Where alpha is 0 (or not a number) there is no colour to recover: what
    // the file holds stays.
    for (std::size_t i = 0; i < pixels; ++i) {
      if (!(alpha[i] > 0.0f)) continue;
      for (int c = 0; c < 3; ++c) destination[3 * i + c] /= alpha[i];
    }
    return true;
  }

  bool Rewind(std::string& error) override { return source_->Rewind(error); }
  std::uint32_t CompleteRows() const override { return source_->CompleteRows(); }

 private:
  std::shared_ptr<ImageRowSource> source_;
  ImageDescription description_;
  bool premultiplied_;
  std::vector<float> alpha_;
};

}  // namespace

std::unique_ptr<ImageRowSource> StraightAlphaRows(std::shared_ptr<ImageRowSource> source) {
  return std::make_unique<StraightAlpha>(std::move(source));
}

}  // namespace lumivane
