// The window's preview: rendering the kept samples again for new settings,
// which the user waits for after [Accept], and feeding the sampler, which a
// tone-mapping job pays per row.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "imaging/previewsampler.h"

namespace lumivane {
namespace {

// A full preview, 2 million samples of a 2:1 image, for a post-gamma of 1
// (no exponentiation) and 1 / 1.2.
void BM_PreviewRender(benchmark::State& state) {
  PreviewSamples samples;
  samples.ImageWidth = 20000;
  samples.ImageHeight = 10000;
  samples.Size = PreviewSizeFor(samples.ImageWidth, samples.ImageHeight);
  samples.Precision = OperatorWidth::Single;
  samples.Values.resize(std::size_t{samples.Size.Width} * samples.Size.Height * 3);
  for (std::size_t i = 0; i < samples.Values.size(); ++i) {
    samples.Values[i] = static_cast<float>((i * 2654435761u) % 100000) / 10000.0f;
    samples.Channels[i % 3].Add(samples.Values[i]);
  }
  samples.PixelCount = static_cast<std::uint32_t>(samples.Values.size() / 3);
  const ToneSettings settings{0.8f, state.range(0) / 1000.0f, false};
  for (auto _ : state) benchmark::DoNotOptimize(RenderPreview(samples, settings).Rgb.data());
  state.SetItemsProcessed(state.iterations() * samples.PixelCount);
}
BENCHMARK(BM_PreviewRender)->Arg(1000)->Arg(833)->Unit(benchmark::kMillisecond);

// Every row of a 20000 x 10000 float image offered to the sampler, as the
// float job does.
void BM_PreviewFeedFloatRows(benchmark::State& state) {
  constexpr std::uint32_t kWidth = 20000, kHeight = 10000;
  const std::vector<std::uint8_t> row(std::size_t{kWidth} * 12, 0x3F);
  PreviewSampler sampler;
  for (auto _ : state) {
    sampler.Begin(kWidth, kHeight, OperatorWidth::Double, {}, kWidth * kHeight, {});
    for (std::uint32_t y = 0; y < kHeight; ++y) sampler.TakeFloatRow(y, row.data(), true);
    benchmark::DoNotOptimize(sampler.Last());
  }
}
BENCHMARK(BM_PreviewFeedFloatRows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivane
