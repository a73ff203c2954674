#include "imaging/downsample.h"

#include <algorithm>
#include <cmath>

#include "imaging/statistics.h"
#include "io/parallel.h"

namespace lumivane {

namespace {

// Input rows read at once: about this many bytes of floats.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

std::uint32_t Side(double value) {
  return static_cast<std::uint32_t>(std::max(1.0, std::floor(value + 1e-9)));
}

// The input pixels one output pixel covers along one axis, with the part of
// each it covers: [First[j], First[j] + Count[j]) into Weights.
struct Taps {
  std::vector<std::uint32_t> First, Count;
  std::vector<std::uint32_t> Index;
  std::vector<double> Weight;
};

Taps MakeTaps(std::uint32_t in, std::uint32_t out) {
  Taps taps;
  const double ratio = static_cast<double>(in) / out;
  for (std::uint32_t j = 0; j < out; ++j) {
    const double from = j * ratio, to = (j + 1) * ratio;
    taps.First.push_back(static_cast<std::uint32_t>(taps.Index.size()));
    const auto last = std::min<std::uint32_t>(in, static_cast<std::uint32_t>(std::ceil(to)));
    for (auto i = static_cast<std::uint32_t>(std::floor(from)); i < last; ++i) {
      const double weight = std::min<double>(to, i + 1.0) - std::max<double>(from, i);
      if (weight <= 0.0) continue;
      taps.Index.push_back(i);
      taps.Weight.push_back(weight);
    }
    taps.Count.push_back(static_cast<std::uint32_t>(taps.Index.size()) - taps.First.back());
  }
  return taps;
}

class Downsampled final : public ImageRowSource {
 public:
  Downsampled(std::shared_ptr<ImageRowSource> source, ImageSize size)
      : source_(std::move(source)),
        description_(source_->Description()),
        in_{description_.Width, description_.Height},
        out_(size),
        columns_(MakeTaps(in_.Width, out_.Width)),
        rows_(MakeTaps(in_.Height, out_.Height)),
        area_(static_cast<double>(in_.Width) / out_.Width * in_.Height / out_.Height) {
    description_.Width = out_.Width;
    description_.Height = out_.Height;
    blockRows_ = static_cast<std::uint32_t>(std::clamp<std::size_t>(
        kBlockBytes / (std::size_t{in_.Width} * 12), 1, std::max(in_.Height, 1u)));
    input_.resize(std::size_t{in_.Width} * 3 * blockRows_);
    narrow_.resize(std::size_t{out_.Width} * 3 * blockRows_);
    sums_.resize(std::size_t{out_.Width} * 3);
    // Alpha averages as colour does (premultiplied colour and its alpha stay
    // in step), as a fourth plane.
    if (source_->ReadsAlpha()) {
      alphaInput_.resize(std::size_t{in_.Width} * blockRows_);
      alphaNarrow_.resize(std::size_t{out_.Width} * blockRows_);
      alphaSums_.resize(out_.Width);
    }
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    return Read(destination, nullptr, rowCount, error);
  }
  bool ReadsAlpha() const override { return !alphaSums_.empty(); }
  bool ReadRowsAndAlpha(float* destination, float* alpha, std::uint32_t rowCount,
                        std::string& error) override {
    if (ReadsAlpha()) return Read(destination, alpha, rowCount, error);
    error = "the rows carry no alpha";
    return false;
  }

  bool Rewind(std::string& error) override {
    nextOut_ = 0;
    blockFirst_ = blockCount_ = 0;
    return source_->Rewind(error);
  }

  std::uint32_t CompleteRows() const override {
    // The output rows whose input rows were all whole.
    const std::uint32_t whole = source_->CompleteRows();
    std::uint32_t rows = 0;
    while (rows < nextOut_ && rows_.Index[rows_.First[rows] + rows_.Count[rows] - 1] < whole)
      ++rows;
    return rows;
  }

 private:
  // The next `rowCount` output rows, and their alpha unless `alpha` is null.
  bool Read(float* destination, float* alpha, std::uint32_t rowCount, std::string& error) {
    const std::size_t rowFloats = std::size_t{out_.Width} * 3;
    for (std::uint32_t k = 0; k < rowCount; ++k, ++nextOut_) {
      if (nextOut_ >= out_.Height) {
        error = "more rows asked for than the image has";
        return false;
      }
      std::fill(sums_.begin(), sums_.end(), 0.0);
      std::fill(alphaSums_.begin(), alphaSums_.end(), 0.0);
      const std::uint32_t first = rows_.First[nextOut_];
      for (std::uint32_t t = first; t < first + rows_.Count[nextOut_]; ++t) {
        const std::uint32_t y = rows_.Index[t];
        if (y >= blockFirst_ + blockCount_ && !LoadBlock(error)) return false;
        const double weight = rows_.Weight[t];
        const float* row = narrow_.data() + rowFloats * (y - blockFirst_);
        for (std::size_t i = 0; i < rowFloats; ++i) sums_[i] += weight * row[i];
        const float* rowAlpha = alphaNarrow_.data() + std::size_t{out_.Width} * (y - blockFirst_);
        for (std::size_t i = 0; i < alphaSums_.size(); ++i) alphaSums_[i] += weight * rowAlpha[i];
      }
      float* out = destination + rowFloats * k;
      for (std::size_t i = 0; i < rowFloats; ++i) out[i] = static_cast<float>(sums_[i] / area_);
      if (!alpha) continue;
      float* outAlpha = alpha + std::size_t{out_.Width} * k;
      for (std::size_t i = 0; i < alphaSums_.size(); ++i)
        outAlpha[i] = static_cast<float>(alphaSums_[i] / area_);
    }
    return true;
  }

  // The next block of input rows, narrowed to the output's width; rows are
  // asked for in order, the last of one output row again as the first of the
  // next.
  bool LoadBlock(std::string& error) {
    blockFirst_ += blockCount_;
    blockCount_ = std::min(blockRows_, in_.Height - blockFirst_);
    const bool read = ReadsAlpha() ? source_->ReadRowsAndAlpha(input_.data(), alphaInput_.data(),
                                                               blockCount_, error)
                                   : source_->ReadRows(input_.data(), blockCount_, error);
    if (!read) return false;
    workers_.Run(blockCount_, [&](std::size_t begin, std::size_t end) {
      for (std::size_t y = begin; y < end; ++y) {
        Narrow<3>(input_.data() + std::size_t{in_.Width} * 3 * y,
                  narrow_.data() + std::size_t{out_.Width} * 3 * y);
        if (ReadsAlpha())
          Narrow<1>(alphaInput_.data() + std::size_t{in_.Width} * y,
                    alphaNarrow_.data() + std::size_t{out_.Width} * y);
      }
    });
    return true;
  }

  template <int Channels>
  void Narrow(const float* in, float* out) const {
    for (std::uint32_t j = 0; j < out_.Width; ++j) {
      double sum[Channels] = {};
      const std::uint32_t first = columns_.First[j];
      for (std::uint32_t t = first; t < first + columns_.Count[j]; ++t) {
        const float* pixel = in + std::size_t{columns_.Index[t]} * Channels;
        for (int c = 0; c < Channels; ++c)
          sum[c] += columns_.Weight[t] * (TakenAsZero(pixel[c]) ? 0.0f : pixel[c]);
      }
      for (int c = 0; c < Channels; ++c) out[Channels * j + c] = static_cast<float>(sum[c]);
    }
  }

  std::shared_ptr<ImageRowSource> source_;
  ImageDescription description_;
  ImageSize in_, out_;
  Taps columns_, rows_;
  double area_;
  std::uint32_t blockRows_ = 1, blockFirst_ = 0, blockCount_ = 0, nextOut_ = 0;
  std::vector<float> input_, narrow_, alphaInput_, alphaNarrow_;
  std::vector<double> sums_, alphaSums_;
  RowWorkers workers_;
};

}  // namespace

ImageSize FitInside(ImageSize image, ImageSize box) {
  const double scale = std::min({1.0, static_cast<double>(box.Width) / image.Width,
                                 static_cast<double>(box.Height) / image.Height});
  return Scaled(image, scale);
}

ImageSize Scaled(ImageSize image, double scale) {
  if (scale >= 1.0) return image;
  return {std::min(image.Width, Side(image.Width * scale)),
          std::min(image.Height, Side(image.Height * scale))};
}

std::unique_ptr<ImageRowSource> DownsampleRows(std::shared_ptr<ImageRowSource> source,
                                               ImageSize size) {
  return std::make_unique<Downsampled>(std::move(source), size);
}

}  // namespace lumivane
