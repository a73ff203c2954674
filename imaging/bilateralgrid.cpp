#include "imaging/bilateralgrid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <emmintrin.h>

namespace lumivane {

namespace {

// Log cells per slab of the gathered grid.
constexpr std::uint32_t kSlabDepth = 32;
// A pixel's offset from its cell's centre, in 1/kOffsetUnit of a cell.
constexpr float kOffsetUnit = 32768.0f;
// Rounds to the nearest integer in float arithmetic: 1.5 x 2^23.
constexpr float kRound = 12582912.0f;
constexpr float kNoLight = -std::numeric_limits<float>::infinity();

// The blur: splatting to the nearest cell (a box, variance 1/12 of a cell
// squared) and slicing by linear interpolation (a tent, variance 1/6) widen
// the Gaussian; the blur makes up the rest of one cell's variance.
constexpr double kBlurVariance = 1.0 - 1.0 / 12.0 - 1.0 / 6.0;
constexpr int kBlurRadius = 3;

// a + t (b - a).
inline __m128 Between(__m128 a, __m128 b, __m128 t) {
  return _mm_add_ps(a, _mm_mul_ps(t, _mm_sub_ps(b, a)));
}

std::uint32_t NearestCell(double position) {
  return static_cast<std::uint32_t>(std::floor(position + 0.5));
}

std::array<double, 2 * kBlurRadius + 1> BlurTaps() {
  std::array<double, 2 * kBlurRadius + 1> taps{};
  for (int k = -kBlurRadius; k <= kBlurRadius; ++k)
    taps[k + kBlurRadius] = std::exp(-0.5 * k * k / kBlurVariance);
  return taps;
}

// Blurs the lines of `values` along one axis, with zeros beyond their ends:
// line (o, i) starts at o x outerStep + i x innerStep and has `length` values
// `step` apart.
void BlurAxis(std::vector<double>& values, std::size_t outer, std::size_t outerStep,
              std::size_t inner, std::size_t innerStep, std::size_t length, std::size_t step) {
  static const std::array<double, 2 * kBlurRadius + 1> taps = BlurTaps();
  std::vector<double> line(length + 2 * kBlurRadius, 0.0);
  for (std::size_t o = 0; o < outer; ++o) {
    for (std::size_t i = 0; i < inner; ++i) {
      double* const start = values.data() + o * outerStep + i * innerStep;
      for (std::size_t k = 0; k < length; ++k) line[k + kBlurRadius] = start[k * step];
      for (std::size_t k = 0; k < length; ++k) {
        double sum = 0.0;
        for (int t = 0; t <= 2 * kBlurRadius; ++t) sum += taps[t] * line[k + t];
        start[k * step] = sum;
      }
    }
  }
}

}  // namespace

struct BilateralGrid::Slab {
  // Per row cell, per column cell, per log cell of the slab: count, offsets.
  std::vector<std::int64_t> Cells;
};

std::uint32_t GridShape::CellsX() const {
  return Width == 0 ? 1 : NearestCell((Width - 1) / CellPixels) + 1;
}

std::uint32_t GridShape::CellsY() const {
  return Height == 0 ? 1 : NearestCell((Height - 1) / CellPixels) + 1;
}

std::uint32_t GridShape::CellsZ() const {
  // The cell Rows::Add gives the highest log, in the same float steps.
  const float z = (kHighestLog - kLowestLog) * (1.0f / LogStep);
  return static_cast<std::uint32_t>((z + kRound) - kRound) + 1;
}

BilateralGrid::BilateralGrid(const GridShape& shape)
    : shape_(shape),
      cellsX_(shape.CellsX()),
      cellsY_(shape.CellsY()),
      cellsZ_(shape.CellsZ()),
      zScale_(1.0f / shape.LogStep),
      cellOfColumn_(shape.Width),
      columnX_(shape.Width),
      slabs_((cellsZ_ + kSlabDepth - 1) / kSlabDepth) {
  for (std::uint32_t x = 0; x < shape.Width; ++x) {
    cellOfColumn_[x] = NearestCell(x / shape.CellPixels);
    columnX_[x] = static_cast<float>(x / shape.CellPixels);
  }
}

BilateralGrid::~BilateralGrid() = default;

std::uint32_t BilateralGrid::SlabCells() const {
  return cellsY_ * cellsX_ * kSlabDepth;
}

std::size_t BilateralGrid::GatheredBytes() const {
  std::size_t slabs = 0;
  for (const auto& slab : slabs_) slabs += slab ? 1 : 0;
  return slabs * SlabCells() * 2 * sizeof(std::int64_t);
}

BilateralGrid::Rows::Rows(BilateralGrid& grid)
    : grid_(grid), cells_(std::size_t{grid.cellsX_} * grid.cellsZ_ * 2, 0) {}

BilateralGrid::Rows::~Rows() {
  Flush();
}

void BilateralGrid::Rows::Add(std::uint32_t row, const float* logs) {
  const std::uint32_t band = NearestCell(row / grid_.shape_.CellPixels);
  if (!empty_ && band != band_) Flush();
  band_ = band;
  const std::uint32_t width = grid_.shape_.Width;
  zs_.resize(width + 3);
  offsets_.resize(width + 3);
  const __m128 lowestLog = _mm_set1_ps(kLowestLog);
  const __m128 highestLog = _mm_set1_ps(kHighestLog);
  const __m128 zScale = _mm_set1_ps(grid_.zScale_);
  const __m128 round = _mm_set1_ps(kRound);
  const __m128 offsetUnit = _mm_set1_ps(kOffsetUnit);
  const __m128i none = _mm_set1_epi32(-1);
  const auto four = [&](__m128 log, std::uint32_t x) {
    const __m128 z = _mm_mul_ps(_mm_sub_ps(_mm_min_ps(log, highestLog), lowestLog), zScale);
    const __m128 nearest = _mm_sub_ps(_mm_add_ps(z, round), round);
    const __m128 offset =
        _mm_sub_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(z, nearest), offsetUnit), round), round);
    const __m128i lit = _mm_castps_si128(_mm_cmpge_ps(log, lowestLog));
    const __m128i cell =
        _mm_or_si128(_mm_and_si128(lit, _mm_cvttps_epi32(nearest)), _mm_andnot_si128(lit, none));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(zs_.data() + x), cell);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(offsets_.data() + x), _mm_cvttps_epi32(offset));
  };
  std::uint32_t x = 0;
  for (; x + 4 <= width; x += 4) four(_mm_loadu_ps(logs + x), x);
  if (x < width) {
    alignas(16) float last[4] = {kNoLight, kNoLight, kNoLight, kNoLight};
    std::copy(logs + x, logs + width, last);
    four(_mm_load_ps(last), x);
  }
  const std::size_t depth = grid_.cellsZ_;
  const std::uint32_t* const cellOfColumn = grid_.cellOfColumn_.data();
  std::int64_t* const cells = cells_.data();
  std::int32_t lowest = empty_ ? std::numeric_limits<std::int32_t>::max() : lowestZ_;
  std::int32_t highest = empty_ ? -1 : highestZ_;
  for (x = 0; x < width; ++x) {
    const std::int32_t z = zs_[x];
    if (z < 0) continue;
    std::int64_t* const at = cells + 2 * (cellOfColumn[x] * depth + static_cast<std::size_t>(z));
    at[0] += 1;
    at[1] += offsets_[x];
    lowest = std::min(lowest, z);
    highest = std::max(highest, z);
  }
  if (lowest <= highest) {
    lowestZ_ = lowest;
    highestZ_ = highest;
    empty_ = false;
  }
}

void BilateralGrid::Rows::Flush() {
  if (empty_) return;
  const std::uint32_t depth = grid_.cellsZ_;
  std::uint64_t pixels = 0;
  for (std::uint32_t x = 0; x < grid_.cellsX_; ++x)
    for (std::int32_t z = lowestZ_; z <= highestZ_; ++z)
      pixels += static_cast<std::uint64_t>(cells_[2 * (std::size_t{x} * depth + z)]);
  grid_.Merge(band_, cells_.data(), static_cast<std::uint32_t>(lowestZ_),
              static_cast<std::uint32_t>(highestZ_), pixels);
  for (std::uint32_t x = 0; x < grid_.cellsX_; ++x) {
    std::int64_t* const line = cells_.data() + 2 * (std::size_t{x} * depth + lowestZ_);
    std::fill(line, line + 2 * (highestZ_ - lowestZ_ + 1), 0);
  }
  empty_ = true;
}

void BilateralGrid::Merge(std::uint32_t band, const std::int64_t* cells, std::uint32_t lowestZ,
                          std::uint32_t highestZ, std::uint64_t pixels) {
  const std::lock_guard<std::mutex> lock(mutex_);
  pixels_ += pixels;
  for (std::uint32_t x = 0; x < cellsX_; ++x) {
    for (std::uint32_t z = lowestZ; z <= highestZ; ++z) {
      const std::int64_t* const from = cells + 2 * (std::size_t{x} * cellsZ_ + z);
      if (from[0] == 0) continue;
      std::unique_ptr<Slab>& slab = slabs_[z / kSlabDepth];
      if (!slab) {
        slab = std::make_unique<Slab>();
        slab->Cells.assign(std::size_t{SlabCells()} * 2, 0);
      }
      std::int64_t* const to =
          slab->Cells.data() +
          2 * ((std::size_t{band} * cellsX_ + x) * kSlabDepth + z % kSlabDepth);
      to[0] += from[0];
      to[1] += from[1];
    }
  }
}

void BilateralGrid::Blur() {
  std::uint32_t lowest = cellsZ_;
  std::uint32_t highest = 0;
  for (std::size_t s = 0; s < slabs_.size(); ++s) {
    if (!slabs_[s]) continue;
    const std::vector<std::int64_t>& cells = slabs_[s]->Cells;
    for (std::size_t i = 0; i < cells.size(); i += 2) {
      if (cells[i] == 0) continue;
      const auto z = static_cast<std::uint32_t>(s * kSlabDepth + (i / 2) % kSlabDepth);
      lowest = std::min(lowest, z);
      highest = std::max(highest, z);
    }
  }
  blurred_.clear();
  depth_ = 0;
  if (lowest > highest) return;
  // A pixel's log cell lies within half a cell of a gathered one, and slicing
  // reads the cells on both sides of it.
  firstZ_ = lowest == 0 ? 0 : lowest - 1;
  depth_ = highest + 2 - firstZ_;
  const std::size_t nx = cellsX_ + 1;
  const std::size_t ny = cellsY_ + 1;
  const std::size_t depth = depth_;
  std::vector<double> weight(ny * nx * depth, 0.0);
  std::vector<double> sum(weight.size(), 0.0);
  for (std::size_t s = 0; s < slabs_.size(); ++s) {
    if (!slabs_[s]) continue;
    const std::vector<std::int64_t>& cells = slabs_[s]->Cells;
    for (std::size_t i = 0; i < cells.size(); i += 2) {
      if (cells[i] == 0) continue;
      const std::size_t z = s * kSlabDepth + (i / 2) % kSlabDepth - firstZ_;
      const std::size_t column = (i / 2 / kSlabDepth) % cellsX_;
      const std::size_t row = i / 2 / kSlabDepth / cellsX_;
      const std::size_t at = (row * nx + column) * depth + z;
      const auto count = static_cast<double>(cells[i]);
      weight[at] = count;
      sum[at] = count * static_cast<double>(z) + static_cast<double>(cells[i + 1]) / kOffsetUnit;
    }
  }
  for (std::vector<double>* values : {&weight, &sum}) {
    BlurAxis(*values, ny * nx, depth, 1, 0, depth, 1);
    BlurAxis(*values, ny, nx * depth, depth, 1, nx, depth);
    BlurAxis(*values, nx, depth, depth, 1, ny, nx * depth);
  }
  blurred_.resize(2 * weight.size());
  for (std::size_t i = 0; i < weight.size(); ++i) {
    blurred_[2 * i] = static_cast<float>(weight[i]);
    blurred_[2 * i + 1] = static_cast<float>(sum[i]);
  }
}

BilateralGrid::RowSlice::RowSlice(const BilateralGrid& grid, std::uint32_t row) : grid_(grid) {
  if (grid.depth_ == 0) return;
  const float y =
      std::min(static_cast<float>(row / grid.shape_.CellPixels), static_cast<float>(grid.cellsY_));
  const std::uint32_t below = std::min(static_cast<std::uint32_t>(y), grid.cellsY_ - 1);
  up_ = y - static_cast<float>(below);
  below_ = grid.blurred_.data() + std::size_t{below} * 2 * (grid.cellsX_ + 1) * grid.depth_;
}

void BilateralGrid::RowSlice::Filter(const PixelPlaces& places, const float* logs,
                                     std::size_t count, float* filtered) const {
  const BilateralGrid& grid = grid_;
  if (grid.depth_ == 0) {
    std::copy(logs, logs + count, filtered);
    return;
  }
  const std::size_t depth = grid.depth_;
  const std::size_t rowStep = 2 * (grid.cellsX_ + 1) * depth;
  const float firstZ = static_cast<float>(grid.firstZ_);
  const float highestZ = std::nextafter(static_cast<float>(depth - 1), 0.0f);
  const std::uint32_t lastColumn = grid.shape_.Width - 1;
  const std::uint32_t lastCell = grid.cellsX_ - 1;
  const __m128 up = _mm_set1_ps(up_);
  constexpr std::size_t kRun = 64;
  alignas(16) float weights[kRun];
  alignas(16) float sums[kRun];
  for (std::size_t done = 0; done < count; done += kRun) {
    const std::size_t n = std::min(kRun, count - done);
    for (std::size_t i = 0; i < n; ++i) {
      const float log = logs[done + i];
      weights[i] = 0.0f;
      sums[i] = 0.0f;
      if (!(log >= kLowestLog)) continue;
      const float x = grid.columnX_[std::min(places.Column(done + i), lastColumn)];
      const std::uint32_t left = std::min(static_cast<std::uint32_t>(x), lastCell);
      const float z = std::clamp((std::min(log, kHighestLog) - kLowestLog) * grid.zScale_ - firstZ,
                                 0.0f, highestZ);
      const auto below = static_cast<std::uint32_t>(z);
      // Weight and sum of the log cells below and above the pixel's, at the
      // four column and row cells around it.
      const float* const at = below_ + 2 * (left * depth + below);
      const __m128 right = _mm_set1_ps(x - static_cast<float>(left));
      const __m128 low = Between(_mm_loadu_ps(at), _mm_loadu_ps(at + 2 * depth), right);
      const __m128 high =
          Between(_mm_loadu_ps(at + rowStep), _mm_loadu_ps(at + rowStep + 2 * depth), right);
      const __m128 cells = Between(low, high, up);
      const __m128 pair =
          Between(cells, _mm_movehl_ps(cells, cells), _mm_set1_ps(z - static_cast<float>(below)));
      _mm_store_ss(weights + i, pair);
      _mm_store_ss(sums + i, _mm_shuffle_ps(pair, pair, _MM_SHUFFLE(1, 1, 1, 1)));
    }
    // The divisions four at a time; a pixel without a weight keeps its own log.
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 lowestLog = _mm_set1_ps(kLowestLog);
    const __m128 first = _mm_set1_ps(firstZ);
    const __m128 step = _mm_set1_ps(grid.shape_.LogStep);
    for (std::size_t i = 0; i < n; i += 4) {
      const __m128 weight = _mm_load_ps(weights + i);
      const __m128 usable = _mm_cmpgt_ps(weight, zero);
      const __m128 divisor = _mm_or_ps(_mm_and_ps(usable, weight), _mm_andnot_ps(usable, one));
      const __m128 base = _mm_add_ps(
          lowestLog,
          _mm_mul_ps(_mm_add_ps(first, _mm_div_ps(_mm_load_ps(sums + i), divisor)), step));
      alignas(16) float result[4];
      _mm_store_ps(result, base);
      for (std::size_t k = 0; k < 4 && i + k < n; ++k)
        filtered[done + i + k] = weights[i + k] > 0.0f ? result[k] : logs[done + i + k];
    }
  }
}

}  // namespace lumivane
