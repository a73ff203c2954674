#include "imaging/rgbekernels.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "formats/rgbe.h"
#include "imaging/tonemap.h"

namespace lumivane {

namespace {

constexpr std::size_t kPairs = 65536;

void StoreLittleEndian(std::uint8_t* bytes, std::uint32_t word) {
  bytes[0] = static_cast<std::uint8_t>(word);
  bytes[1] = static_cast<std::uint8_t>(word >> 8);
  bytes[2] = static_cast<std::uint8_t>(word >> 16);
  bytes[3] = static_cast<std::uint8_t>(word >> 24);
}

}  // namespace

RgbeToneTables BuildRgbeToneTables(const ImageStatistics& statistics, float brightness,
                                   float postGamma, RowWorkers& workers) {
  RgbeToneTables tables;
  for (auto& channel : tables.Channel) channel.assign(kPairs, 0);
  const std::vector<float>& values = RgbeFloatTable();
  // One item per channel and exponent.
  workers.Run(3 * 256, [&](std::size_t begin, std::size_t end) {
    for (std::size_t item = begin; item < end; ++item) {
      const int c = static_cast<int>(item / 256);
      const std::size_t first = (item % 256) << 8;
      std::vector<std::uint8_t>& table = tables.Channel[c];
      for (std::size_t key = first; key < first + 256; ++key) {
        table[key] = ToneMapChannel(values[key], statistics.Minimum[c], statistics.Average[c],
                                    brightness, postGamma, OperatorWidth::Single);
      }
    }
  });
  return tables;
}

void AccumulateRgbeSums(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count,
                        ChannelAccumulators& accumulators) {
  const float* values = RgbeFloatTable().data();
  double red = accumulators[0].Sum, green = accumulators[1].Sum, blue = accumulators[2].Sum;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t high = static_cast<std::size_t>(e[i]) << 8;
    red += static_cast<double>(values[high | r[i]]);
    green += static_cast<double>(values[high | g[i]]);
    blue += static_cast<double>(values[high | b[i]]);
  }
  accumulators[0].Sum = red;
  accumulators[1].Sum = green;
  accumulators[2].Sum = blue;
}

namespace {

// The (mantissa, exponent) pairs ranked by their values, so that the extremes
// of the values are those of the ranks: equal values (all zeros, for one)
// share a rank. One spare entry lets a 32-bit gather read the last rank.
struct RgbeRanks {
  std::vector<std::uint16_t> RankOfKey;
  std::vector<float> ValueOfRank;
};

const RgbeRanks& RgbeRankTables() {
  static const RgbeRanks ranks = [] {
    const std::vector<float>& values = RgbeFloatTable();
    std::vector<std::uint32_t> keys(kPairs);
    for (std::uint32_t key = 0; key < kPairs; ++key) keys[key] = key;
    std::sort(keys.begin(), keys.end(),
              [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
    RgbeRanks built;
    built.RankOfKey.assign(kPairs + 1, 0);
    for (const std::uint32_t key : keys) {
      if (built.ValueOfRank.empty() || built.ValueOfRank.back() < values[key]) {
        built.ValueOfRank.push_back(values[key]);
      }
      built.RankOfKey[key] = static_cast<std::uint16_t>(built.ValueOfRank.size() - 1);
    }
    return built;
  }();
  return ranks;
}

#if defined(__SSE2__)
// The lowest and highest rank per channel, eight pixels per step.
[[gnu::target("avx2")]] void RgbeExtremeRanks(const std::uint8_t* const planes[3],
                                              const std::uint8_t* e, std::size_t count,
                                              unsigned low[3], unsigned high[3]) {
  const std::uint16_t* const rankOfKey = RgbeRankTables().RankOfKey.data();
  const int* const ranks = reinterpret_cast<const int*>(rankOfKey);
  const __m256i rankMask = _mm256_set1_epi32(0xFFFF);
  __m256i lows[3], highs[3];
  for (int c = 0; c < 3; ++c) {
    lows[c] = rankMask;
    highs[c] = _mm256_setzero_si256();
  }
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i exponent = _mm256_slli_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(e + i))), 8);
    for (int c = 0; c < 3; ++c) {
      const __m256i key = _mm256_or_si256(
          exponent,
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(planes[c] + i))));
      // Two-byte ranks: each gathered word holds the rank in its low half.
      const __m256i rank = _mm256_and_si256(_mm256_i32gather_epi32(ranks, key, 2), rankMask);
      lows[c] = _mm256_min_epu32(lows[c], rank);
      highs[c] = _mm256_max_epu32(highs[c], rank);
    }
  }
  for (int c = 0; c < 3; ++c) {
    alignas(32) std::uint32_t lane[2][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane[0]), lows[c]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane[1]), highs[c]);
    low[c] = *std::min_element(lane[0], lane[0] + 8);
    high[c] = *std::max_element(lane[1], lane[1] + 8);
    for (std::size_t j = i; j < count; ++j) {
      const unsigned rank = rankOfKey[static_cast<std::size_t>(e[j]) << 8 | planes[c][j]];
      low[c] = std::min(low[c], rank);
      high[c] = std::max(high[c], rank);
    }
  }
}
#endif

}  // namespace

void AccumulateRgbeExtremes(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                            const std::uint8_t* e, std::size_t count,
                            ChannelAccumulators& accumulators) {
#if defined(__SSE2__)
  if (__builtin_cpu_supports("avx2")) {
    if (count == 0) return;
    const std::uint8_t* const planes[3] = {r, g, b};
    unsigned low[3], high[3];
    RgbeExtremeRanks(planes, e, count, low, high);
    const std::vector<float>& valueOfRank = RgbeRankTables().ValueOfRank;
    for (int c = 0; c < 3; ++c) {
      const double lowest = valueOfRank[low[c]], highest = valueOfRank[high[c]];
      if (lowest < accumulators[c].Minimum) accumulators[c].Minimum = lowest;
      if (highest > accumulators[c].Maximum) accumulators[c].Maximum = highest;
    }
    return;
  }
#endif
  // Which (mantissa, exponent) pairs occur, then the extremes over those: a
  // store per value instead of a chain of comparisons.
  std::array<std::array<std::uint8_t, kPairs>, 3> seen{};
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t high = static_cast<std::size_t>(e[i]) << 8;
    seen[0][high | r[i]] = 1;
    seen[1][high | g[i]] = 1;
    seen[2][high | b[i]] = 1;
  }
  const float* values = RgbeFloatTable().data();
  for (int c = 0; c < 3; ++c) {
    double low = accumulators[c].Minimum, high = accumulators[c].Maximum;
    for (std::size_t key = 0; key < kPairs; ++key) {
      if (!seen[c][key]) continue;
      const double v = values[key];
      if (v > high) high = v;
      if (v < low) low = v;
    }
    accumulators[c].Minimum = low;
    accumulators[c].Maximum = high;
  }
}

void ToneMapRgbeToRgb(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                      const std::uint8_t* e, std::size_t count, const RgbeToneTables& tables,
                      std::uint8_t* out) {
  const std::uint8_t* red = tables.Channel[0].data();
  const std::uint8_t* green = tables.Channel[1].data();
  const std::uint8_t* blue = tables.Channel[2].data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t high = static_cast<std::size_t>(e[i]) << 8;
    out[3 * i] = red[high | r[i]];
    out[3 * i + 1] = green[high | g[i]];
    out[3 * i + 2] = blue[high | b[i]];
  }
}

void RgbePixelsToFloats(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count, std::uint8_t* out) {
  const float* values = RgbeFloatTable().data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t high = static_cast<std::size_t>(e[i]) << 8;
    StoreLittleEndian(out + 12 * i, std::bit_cast<std::uint32_t>(values[high | r[i]]));
    StoreLittleEndian(out + 12 * i + 4, std::bit_cast<std::uint32_t>(values[high | g[i]]));
    StoreLittleEndian(out + 12 * i + 8, std::bit_cast<std::uint32_t>(values[high | b[i]]));
  }
}

}  // namespace lumivane
