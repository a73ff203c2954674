// The operators beyond the classic one on the synthetic scene, one thread:
// the luminance histogram of the first pass over about three million pixels,
// and each operator's mapping to bytes over the first million of them, as
// many as the classic kernels of kernels_bench.cpp take (compare per pixel).
#include <array>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/synthetic.h"
#include "formats/rgbe.h"
#include "imaging/luminance.h"
#include "imaging/operatortable.h"

namespace lumivane::bench {
namespace {

constexpr std::uint32_t kWidth = 4096;
constexpr std::uint32_t kRows = 768;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kRows;
constexpr std::uint32_t kMappedRows = 256;

// The scene as linear floats, rows spread over its whole height.
const std::vector<float>& SceneRgb() {
  static const std::vector<float> rgb = [] {
    std::vector<float> values(3 * kPixels);
    std::vector<std::uint8_t> row(4 * kWidth);
    for (std::uint32_t y = 0; y < kRows; ++y) {
      SyntheticRgbeRow(kWidth, kRows * 4, y * 4, row.data());
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const std::uint8_t* p = row.data() + 4 * x;
        float* v = values.data() + 3 * (static_cast<std::size_t>(y) * kWidth + x);
        for (int c = 0; c < 3; ++c) v[c] = RgbeToFloat(p[c], p[3]);
      }
    }
    return values;
  }();
  return rgb;
}

ImageFacts SceneFacts() {
  ImageFacts facts;
  facts.Width = kWidth;
  facts.Height = kRows;
  facts.Luminance.AddPixels(SceneRgb().data(), kPixels);
  return facts;
}

// state.range(0): rows of the scene (256: the first million pixels, which
// stay in the cache as a band of the job's does; 768: all of them).
void BM_LuminanceHistogramAddPixels(benchmark::State& state) {
  const std::vector<float>& rgb = SceneRgb();
  const std::size_t pixels = kWidth * static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    LuminanceHistogram histogram;
    histogram.AddPixels(rgb.data(), pixels);
    benchmark::DoNotOptimize(histogram.Count());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
}
BENCHMARK(BM_LuminanceHistogramAddPixels)->Arg(256)->Arg(kRows)->Unit(benchmark::kMillisecond);

constexpr std::array<const char*, 3> kGlobal = {"reinhard02", "drago03", "filmic"};

// state.range(0): the global operator; state.range(1): 0 the
// defaults, 1 saturation 1, 2 saturation 1 and gamma 2.2.
void BM_OperatorMapPixelsToBytes(benchmark::State& state) {
  const OperatorRow& row = *FindOperator(kGlobal.at(static_cast<std::size_t>(state.range(0))));
  state.SetLabel(row.Name);
  OperatorValues values;
  if (state.range(1) >= 1) values["saturation"] = 1.0;
  if (state.range(1) >= 2) values["gamma"] = 2.2;
  const auto op = row.Make(values);
  op->Prepare(SceneFacts());
  const std::vector<float>& rgb = SceneRgb();
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < kMappedRows; ++y) {
      const std::size_t first = static_cast<std::size_t>(y) * kWidth;
      op->MapPixelsToBytes(rgb.data() + 3 * first, PixelPlaces{y, 0, nullptr}, kWidth,
                           out.data() + 3 * first);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kWidth * kMappedRows));
}
BENCHMARK(BM_OperatorMapPixelsToBytes)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

void BM_OperatorPrepare(benchmark::State& state) {
  const OperatorRow& row = *FindOperator(kGlobal.at(static_cast<std::size_t>(state.range(0))));
  state.SetLabel(row.Name);
  const ImageFacts facts = SceneFacts();
  for (auto _ : state) {
    const auto op = row.Make({});
    op->Prepare(facts);
    benchmark::DoNotOptimize(op.get());
  }
}
BENCHMARK(BM_OperatorPrepare)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivane::bench
