#include "imaging/colourspace.h"

#include <lcms2.h>

#include <cmath>

namespace lumivane {

namespace {

// A linear RGB profile of the chromaticities; null when they make none.
cmsHPROFILE LinearProfile(const Chromaticities& c) {
  const cmsCIExyY white{c.White[0], c.White[1], 1.0};
  const cmsCIExyYTRIPLE primaries{
      {c.Red[0], c.Red[1], 1.0}, {c.Green[0], c.Green[1], 1.0}, {c.Blue[0], c.Blue[1], 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  if (!linear) return nullptr;
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(linear);
  return profile;
}

bool Near(const float* a, const float* b) {
  return std::fabs(a[0] - b[0]) <= 1e-3f && std::fabs(a[1] - b[1]) <= 1e-3f;
}

class ConvertedRows final : public ImageRowSource {
 public:
  ConvertedRows(std::shared_ptr<ImageRowSource> source, const Matrix3& matrix)
      : source_(std::move(source)), matrix_(matrix), description_(source_->Description()) {
    // An output that keeps the input's attributes must not state the old primaries.
    description_.Metadata.Primaries = Rec709Chromaticities();
  }
  const ImageDescription& Description() const override { return description_; }
  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    if (!source_->ReadRows(destination, rowCount, error)) return false;
    Convert(destination, rowCount);
    return true;
  }
  // Alpha is the same in any primaries.
  bool ReadsAlpha() const override { return source_->ReadsAlpha(); }
  bool ReadRowsAndAlpha(float* destination, float* alpha, std::uint32_t rowCount,
                        std::string& error) override {
    if (!source_->ReadRowsAndAlpha(destination, alpha, rowCount, error)) return false;
    Convert(destination, rowCount);
    return true;
  }
  bool Rewind(std::string& error) override { return source_->Rewind(error); }
  std::uint32_t CompleteRows() const override { return source_->CompleteRows(); }
  std::array<std::uint32_t, 3> RowKinds() const override { return source_->RowKinds(); }

 private:
  void Convert(float* destination, std::uint32_t rowCount) const {
    const std::size_t pixels = std::size_t{Description().Width} * rowCount;
    const Matrix3& m = matrix_;
    for (std::size_t i = 0; i < pixels; ++i) {
      float* p = destination + 3 * i;
      const float r = p[0], g = p[1], b = p[2];
      p[0] = m[0] * r + m[1] * g + m[2] * b;
      p[1] = m[3] * r + m[4] * g + m[5] * b;
      p[2] = m[6] * r + m[7] * g + m[8] * b;
    }
  }

  std::shared_ptr<ImageRowSource> source_;
  Matrix3 matrix_;
  ImageDescription description_;
};

}  // namespace

Chromaticities Rec709Chromaticities() {
  return {{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}, {0.3127f, 0.3290f}};
}

bool IsRec709(const Chromaticities& c) {
  const Chromaticities r = Rec709Chromaticities();
  return Near(c.Red, r.Red) && Near(c.Green, r.Green) && Near(c.Blue, r.Blue) &&
         Near(c.White, r.White);
}

std::optional<Matrix3> ToRec709Matrix(const Chromaticities& from) {
  cmsHPROFILE source = LinearProfile(from);
  cmsHPROFILE target = LinearProfile(Rec709Chromaticities());
  cmsHTRANSFORM transform = nullptr;
  if (source && target)
    transform = cmsCreateTransform(source, TYPE_RGB_DBL, target, TYPE_RGB_DBL,
                                   INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  std::optional<Matrix3> matrix;
  if (transform) {
    // The transform is linear: the columns are the images of the unit vectors.
    const double units[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double columns[9];
    cmsDoTransform(transform, units, columns, 3);
    matrix.emplace();
    bool finite = true;
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < 3; ++column) {
        const double value = columns[3 * column + row];
        finite = finite && std::isfinite(value);
        (*matrix)[3 * row + column] = static_cast<float>(value);
      }
    if (!finite) matrix.reset();
    cmsDeleteTransform(transform);
  }
  if (source) cmsCloseProfile(source);
  if (target) cmsCloseProfile(target);
  return matrix;
}

std::unique_ptr<ImageRowSource> ConvertRows(std::shared_ptr<ImageRowSource> source,
                                            const Matrix3& matrix) {
  return std::make_unique<ConvertedRows>(std::move(source), matrix);
}

}  // namespace lumivane
