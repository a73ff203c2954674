// A bilateral filter of an image's log-luminance by the bilateral grid of
// Chen, Paris and Durand (2007): pixels are added to cells of (column, row,
// log-luminance), the grid is blurred with a Gaussian in all three directions,
// and each pixel reads its filtered value back by trilinear interpolation.
// One cell per sigma in each direction (the paper's sampling), so the grid's
// size follows the sigmas, not the image.
//
// Rows may be added on several threads at once, in any order and split: the
// cells count in integers (fixed point), so the grid comes out the same bits
// whatever the order. Cells are kept in slabs of log-luminance, made when a
// pixel first falls in them, so memory follows the range the image uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "imaging/tonemapoperator.h"

namespace lumivane {

// Log-luminances the grid holds; values outside are clamped to them, and a
// pixel whose log-luminance is below kLowestLog (or NaN) is left out.
inline constexpr float kLowestLog = -44.3614196f;  // ln(2^-64)
inline constexpr float kHighestLog = 44.3614196f;

struct GridShape {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // Pixels per cell along rows and columns: the spatial sigma.
  double CellPixels = 1.0;
  // Natural-log units per cell of log-luminance: the range kernel's
  // standard deviation.
  float LogStep = 1.0f;

  // Cells whose centres cover the image: cell c holds the pixels nearest to
  // c x CellPixels.
  std::uint32_t CellsX() const;
  std::uint32_t CellsY() const;
  std::uint32_t CellsZ() const;
};

class BilateralGrid {
 public:
  explicit BilateralGrid(const GridShape& shape);
  ~BilateralGrid();

  const GridShape& Shape() const { return shape_; }

  // Gathers rows on one thread and adds them to the grid when the rows move
  // on to another band of cells, and when it is destroyed.
  class Rows {
   public:
    explicit Rows(BilateralGrid& grid);
    ~Rows();
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    // One row's log-luminances, Width of them.
    void Add(std::uint32_t row, const float* logs);

   private:
    void Flush();

    BilateralGrid& grid_;
    std::vector<std::int64_t> cells_;  // per column cell, per log cell: count, offsets
    std::vector<std::int32_t> zs_;     // a row's log cells (-1: none) and offsets
    std::vector<std::int32_t> offsets_;
    std::uint32_t band_ = 0;
    std::int32_t lowestZ_ = 0;
    std::int32_t highestZ_ = 0;
    bool empty_ = true;
  };

  // After every row: blurs the grid. Mapping reads only the blurred grid.
  void Blur();

  // Pixels that had a log-luminance within the grid.
  std::uint64_t Pixels() const { return pixels_; }
  // Bytes the gathered and the blurred cells take.
  std::size_t GatheredBytes() const;
  std::size_t BlurredBytes() const { return blurred_.size() * sizeof(float); }

  // The blurred grid at one image row, from which that row's pixels read
  // their filtered values.
  class RowSlice {
   public:
    RowSlice(const BilateralGrid& grid, std::uint32_t row);
    // The filtered log-luminance of `count` pixels at `places` (whose row is
    // this slice's) with log-luminances `logs`. A pixel with no value in
    // reach (never the case for a pixel the grid gathered) keeps its own.
    void Filter(const PixelPlaces& places, const float* logs, std::size_t count,
                float* filtered) const;

   private:
    const BilateralGrid& grid_;
    const float* below_ = nullptr;  // the row of cells above the image row
    float up_ = 0.0f;               // the way from it to the next row of cells
  };

 private:
  struct Slab;
  void Merge(std::uint32_t band, const std::int64_t* cells, std::uint32_t lowestZ,
             std::uint32_t highestZ, std::uint64_t pixels);
  std::uint32_t SlabCells() const;

  GridShape shape_;
  std::uint32_t cellsX_;
  std::uint32_t cellsY_;
  std::uint32_t cellsZ_;
  float zScale_;  // log cells per natural-log unit
  std::vector<std::uint32_t> cellOfColumn_;
  std::vector<float> columnX_;  // a column's place in cells, for slicing

  std::mutex mutex_;
  std::vector<std::unique_ptr<Slab>> slabs_;
  std::uint64_t pixels_ = 0;

  // The blurred grid, over rows 0..cellsY_, columns 0..cellsX_ and log cells
  // firstZ_ .. firstZ_ + depth_ - 1: weight and sum of (z - firstZ_) per cell.
  std::vector<float> blurred_;
  std::uint32_t firstZ_ = 0;
  std::uint32_t depth_ = 0;
};

}  // namespace lumivane
