// The durand02 operator's passes on a 4096 x 1024 slice of the synthetic
// scene (about four million pixels): filling the bilateral grid, Prepare
// (the blur and the base layer's range), and the mapping to bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "bench/synthetic.h"
#include "imaging/operatortable.h"

namespace lumivane::bench {
namespace {

constexpr std::uint32_t kWidth = 4096;
constexpr std::uint32_t kHeight = 1024;
constexpr std::uint32_t kBlockRows = 32;

const std::vector<float>& SceneRgb() {
  static const std::vector<float> rgb = [] {
    std::vector<float> values(std::size_t{3} * kWidth * kHeight);
    std::vector<std::uint8_t> row(4 * kWidth);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
      SyntheticRgbeRow(kWidth, kHeight, y, row.data());
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const std::uint8_t* const pixel = row.data() + 4 * x;
        for (int c = 0; c < 3; ++c)
          values[(std::size_t{y} * kWidth + x) * 3 + c] =
              pixel[3] == 0 ? 0.0f : std::ldexp((pixel[c] + 0.5f) / 256.0f, pixel[3] - 128);
      }
    }
    return values;
  }();
  return rgb;
}

void Gather(ToneOperator& op) {
  const std::vector<float>& rgb = SceneRgb();
  const std::unique_ptr<OperatorGatherer> gatherer = op.MakeGatherer(kWidth, kHeight);
  for (std::uint32_t y = 0; y < kHeight; y += kBlockRows)
    gatherer->AddRows(rgb.data() + std::size_t{3} * kWidth * y, y, kBlockRows);
}

std::unique_ptr<ToneOperator> Prepared(const OperatorValues& values) {
  std::unique_ptr<ToneOperator> op = FindOperator("durand02")->Make(values);
  Gather(*op);
  ImageFacts facts;
  facts.Width = kWidth;
  facts.Height = kHeight;
  op->Prepare(facts);
  return op;
}

void SetPixels(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_Durand02AddRows(benchmark::State& state) {
  const std::unique_ptr<ToneOperator> op = FindOperator("durand02")->Make({});
  for (auto _ : state) Gather(*op);
  SetPixels(state);
}
BENCHMARK(BM_Durand02AddRows)->Unit(benchmark::kMillisecond);

void BM_Durand02Prepare(benchmark::State& state) {
  std::unique_ptr<ToneOperator> op = FindOperator("durand02")->Make({});
  Gather(*op);
  ImageFacts facts;
  facts.Width = kWidth;
  facts.Height = kHeight;
  for (auto _ : state) op->Prepare(facts);
}
BENCHMARK(BM_Durand02Prepare)->Unit(benchmark::kMillisecond);

// Argument: the saturation in thousandths, 0 for the default (estimated).
void BM_Durand02MapPixelsToBytes(benchmark::State& state) {
  OperatorValues values;
  if (state.range(0) != 0) values["saturation"] = static_cast<double>(state.range(0)) / 1000.0;
  const std::unique_ptr<ToneOperator> op = Prepared(values);
  const std::vector<float>& rgb = SceneRgb();
  std::vector<std::uint8_t> out(std::size_t{3} * kWidth);
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < kHeight; ++y)
      op->MapPixelsToBytes(rgb.data() + std::size_t{3} * kWidth * y, PixelPlaces{y, 0, nullptr},
                           kWidth, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_Durand02MapPixelsToBytes)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivane::bench
