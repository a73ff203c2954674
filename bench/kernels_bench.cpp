// The hot loops of the jobs, reference against fast path, on a 4096 x 256
// slice of the synthetic scene (about a million pixels).
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "bench/synthetic.h"
#include "formats/rgbe.h"
#include "imaging/fastpaths.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "io/parallel.h"

namespace lumivane::bench {
namespace {

constexpr std::uint32_t kWidth = 4096;
constexpr std::uint32_t kRows = 256;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kRows;

struct Planes {
  std::vector<std::uint8_t> R, G, B, E;
};

const Planes& ScenePlanes() {
  static const Planes planes = [] {
    Planes p{std::vector<std::uint8_t>(kPixels), std::vector<std::uint8_t>(kPixels),
             std::vector<std::uint8_t>(kPixels), std::vector<std::uint8_t>(kPixels)};
    std::vector<std::uint8_t> row(4 * kWidth);
    for (std::uint32_t y = 0; y < kRows; ++y) {
      // Rows spread over the whole scene's height.
      SyntheticRgbeRow(kWidth, kRows * 16, y * 16, row.data());
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * kWidth + x;
        p.R[i] = row[4 * x];
        p.G[i] = row[4 * x + 1];
        p.B[i] = row[4 * x + 2];
        p.E[i] = row[4 * x + 3];
      }
    }
    return p;
  }();
  return planes;
}

// The scene as stored float pixels, least significant byte first.
const std::vector<std::uint8_t>& SceneFloats() {
  static const std::vector<std::uint8_t> floats = [] {
    const Planes& p = ScenePlanes();
    std::vector<std::uint8_t> bytes(12 * kPixels);
    for (std::size_t i = 0; i < kPixels; ++i) {
      const std::uint8_t* mantissas[] = {p.R.data(), p.G.data(), p.B.data()};
      for (int c = 0; c < 3; ++c) {
        const float v = std::ldexp((mantissas[c][i] + 0.5f) / 256.0f, p.E[i] - 128);
        std::memcpy(bytes.data() + 12 * i + 4 * c, &v, 4);
      }
    }
    return bytes;
  }();
  return floats;
}

ImageStatistics SceneStatistics() {
  ChannelAccumulators accumulators;
  AccumulateFloatPixels(SceneFloats().data(), kPixels, true, accumulators);
  return ComputeImageStatistics(accumulators, kPixels, true);
}

void SetPixels(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

void BM_RgbeStatisticsReference(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  for (auto _ : state) {
    ChannelAccumulators acc;
    for (std::size_t i = 0; i < kPixels; ++i) {
      acc[0].Add(RgbeToFloat(p.R[i], p.E[i]));
      acc[1].Add(RgbeToFloat(p.G[i], p.E[i]));
      acc[2].Add(RgbeToFloat(p.B[i], p.E[i]));
    }
    benchmark::DoNotOptimize(acc);
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeStatisticsReference)->Unit(benchmark::kMillisecond);

// state.range(0): 0 the sums (one thread of the job), 1 the extremes (the
// other), 2 both.
void BM_RgbeStatisticsTable(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  for (auto _ : state) {
    ChannelAccumulators acc;
    if (state.range(0) != 1) {
      AccumulateRgbeSums(p.R.data(), p.G.data(), p.B.data(), p.E.data(), kPixels, acc);
    }
    if (state.range(0) != 0) {
      AccumulateRgbeExtremes(p.R.data(), p.G.data(), p.B.data(), p.E.data(), kPixels, acc);
    }
    benchmark::DoNotOptimize(acc);
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeStatisticsTable)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// state.range(0): PostGamma x 1000 (1000: k = 1).
void BM_RgbeToneMapReference(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  const ImageStatistics s = SceneStatistics();
  const float k = static_cast<float>(state.range(0)) / 1000.0f;
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPixels; ++i) {
      out[3 * i] = ToneMapChannel(RgbeToFloat(p.R[i], p.E[i]), s.Minimum[0], s.Average[0], 0.8f, k,
                                  OperatorWidth::Single);
      out[3 * i + 1] = ToneMapChannel(RgbeToFloat(p.G[i], p.E[i]), s.Minimum[1], s.Average[1], 0.8f,
                                      k, OperatorWidth::Single);
      out[3 * i + 2] = ToneMapChannel(RgbeToFloat(p.B[i], p.E[i]), s.Minimum[2], s.Average[2], 0.8f,
                                      k, OperatorWidth::Single);
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeToneMapReference)->Arg(1000)->Arg(833)->Unit(benchmark::kMillisecond);

// Tables built and applied on all threads.
void BM_RgbeToneMapTables(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  const ImageStatistics s = SceneStatistics();
  const float k = static_cast<float>(state.range(0)) / 1000.0f;
  RowWorkers workers;
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    const RgbeToneTables tables = BuildRgbeToneTables(s, 0.8f, k, workers);
    workers.Run(kRows, [&](std::size_t begin, std::size_t end) {
      const std::size_t from = begin * kWidth, count = (end - begin) * kWidth;
      ToneMapRgbeToRgb(p.R.data() + from, p.G.data() + from, p.B.data() + from, p.E.data() + from,
                       count, tables, out.data() + 3 * from);
    });
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeToneMapTables)->Arg(1000)->Arg(833)->Unit(benchmark::kMillisecond);

void BM_RgbeToneTablesBuild(benchmark::State& state) {
  const ImageStatistics s = SceneStatistics();
  RowWorkers workers;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildRgbeToneTables(s, 0.8f, 0.8333333f, workers));
  }
}
BENCHMARK(BM_RgbeToneTablesBuild)->Unit(benchmark::kMillisecond);

// The tables applied on one thread, as each block of the job is.
void BM_RgbeToneMapApply(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  RowWorkers one(1);
  const RgbeToneTables tables = BuildRgbeToneTables(SceneStatistics(), 0.8f, 0.8333333f, one);
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    ToneMapRgbeToRgb(p.R.data(), p.G.data(), p.B.data(), p.E.data(), kPixels, tables, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeToneMapApply)->Unit(benchmark::kMillisecond);

void BM_RgbeToFloatsRows(benchmark::State& state) {
  const Planes& p = ScenePlanes();
  std::vector<std::uint8_t> out(12 * kPixels);
  for (auto _ : state) {
    RgbePixelsToFloats(p.R.data(), p.G.data(), p.B.data(), p.E.data(), kPixels, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_RgbeToFloatsRows)->Unit(benchmark::kMillisecond);

void BM_FloatStatistics(benchmark::State& state) {
  const std::vector<std::uint8_t>& floats = SceneFloats();
  const bool intel = state.range(0) != 0;
  for (auto _ : state) {
    ChannelAccumulators acc;
    AccumulateFloatPixels(floats.data(), kPixels, intel, acc);
    benchmark::DoNotOptimize(acc);
  }
  SetPixels(state);
}
BENCHMARK(BM_FloatStatistics)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The two halves of the statistics pass, which run side by side in the job.
void BM_FloatSums(benchmark::State& state) {
  const std::vector<std::uint8_t>& floats = SceneFloats();
  for (auto _ : state) {
    ChannelAccumulators acc;
    AccumulateFloatSums(floats.data(), kPixels, true, acc);
    benchmark::DoNotOptimize(acc);
  }
  SetPixels(state);
}
BENCHMARK(BM_FloatSums)->Unit(benchmark::kMillisecond);

void BM_FloatExtremes(benchmark::State& state) {
  const std::vector<std::uint8_t>& floats = SceneFloats();
  const bool intel = state.range(0) != 0;
  for (auto _ : state) {
    ChannelAccumulators acc;
    AccumulateFloatExtremes(floats.data(), kPixels, intel, acc);
    benchmark::DoNotOptimize(acc);
  }
  SetPixels(state);
}
BENCHMARK(BM_FloatExtremes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_FloatToneMapReference(benchmark::State& state) {
  const std::vector<std::uint8_t>& floats = SceneFloats();
  const ImageStatistics s = SceneStatistics();
  const float k = static_cast<float>(state.range(0)) / 1000.0f;
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    for (std::size_t i = 0; i < 3 * kPixels; ++i) {
      float v;
      std::memcpy(&v, floats.data() + 4 * i, 4);
      const int c = static_cast<int>(i % 3);
      out[i] = ToneMapChannel(v, s.Minimum[c], s.Average[c], 0.8f, k, OperatorWidth::Double);
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
BENCHMARK(BM_FloatToneMapReference)->Arg(1000)->Arg(833)->Unit(benchmark::kMillisecond);

// One thread, thresholds prepared once per image (the preparation is
// measured on its own below).
void BM_FloatToneMapThresholds(benchmark::State& state) {
  const std::vector<std::uint8_t>& floats = SceneFloats();
  const float k = static_cast<float>(state.range(0)) / 1000.0f;
  FloatToneMapper mapper(SceneStatistics(), 0.8f, k);
  mapper.LimitLanes(static_cast<unsigned>(state.range(1)));
  std::vector<std::uint8_t> out(3 * kPixels);
  for (auto _ : state) {
    mapper.Map(floats.data(), kPixels, true, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixels(state);
}
// Arguments: 1000 k, then the lanes side by side (1, 4 or 8).
BENCHMARK(BM_FloatToneMapThresholds)
    ->Args({1000, 8})
    ->Args({833, 1})
    ->Args({833, 4})
    ->Args({833, 8})
    ->Unit(benchmark::kMillisecond);

void BM_FloatToneMapperPrepare(benchmark::State& state) {
  const ImageStatistics s = SceneStatistics();
  const float k = static_cast<float>(state.range(0)) / 1000.0f;
  for (auto _ : state) {
    FloatToneMapper mapper(s, 0.8f, k);
    benchmark::DoNotOptimize(&mapper);
  }
}
BENCHMARK(BM_FloatToneMapperPrepare)->Arg(1000)->Arg(833)->Unit(benchmark::kMillisecond);

void BM_SwapBytes4(benchmark::State& state) {
  std::vector<std::uint8_t> floats = SceneFloats();
  for (auto _ : state) {
    SwapBytes4(floats.data(), 3 * kPixels);
    benchmark::DoNotOptimize(floats.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * floats.size()));
}
BENCHMARK(BM_SwapBytes4)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivane::bench
