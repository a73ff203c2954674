#include "imaging/fastpaths.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "formats/rgbe.h"
#include "imaging/tonemap.h"

namespace lumivane {

namespace {

constexpr std::size_t kPairs = 65536;

std::uint32_t LoadWord(const std::uint8_t* bytes, bool intelOrder) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
  const bool swap = intelOrder != (std::endian::native == std::endian::little);
  return swap ? __builtin_bswap32(word) : word;
}

void StoreLittleEndian(std::uint8_t* bytes, std::uint32_t word) {
  bytes[0] = static_cast<std::uint8_t>(word);
  bytes[1] = static_cast<std::uint8_t>(word >> 8);
  bytes[2] = static_cast<std::uint8_t>(word >> 16);
  bytes[3] = static_cast<std::uint8_t>(word >> 24);
}

// Float bit patterns to unsigned keys that sort as the values do (NaNs with
// the sign bit set below -inf, the others above +inf).
std::uint32_t KeyOf(std::uint32_t bits) {
  const std::uint32_t flip = static_cast<std::uint32_t>(static_cast<std::int32_t>(bits) >> 31);
  return bits ^ (flip | 0x80000000u);
}

float FloatOfKey(std::uint32_t key) {
  const std::uint32_t bits = (key & 0x80000000u) ? key ^ 0x80000000u : ~key;
  return std::bit_cast<float>(bits);
}

constexpr std::uint32_t kLowestFiniteKey = 0x00800000u;  // -FLT_MAX
constexpr std::uint32_t kPlusInfinityKey = 0xFF800000u;
// Neighbours of every threshold checked against the reference.
constexpr std::uint32_t kCheckWindow = 48;

// Thresholds 1 .. 255 at or below key.
unsigned ThresholdsAtOrBelow(const std::array<std::uint32_t, 257>& threshold, std::uint32_t key) {
  return static_cast<unsigned>(
      std::upper_bound(threshold.begin() + 1, threshold.begin() + 256, key) -
      (threshold.begin() + 1));
}

}  // namespace

// ---- Radiance ----

const std::vector<float>& RgbeFloatTable() {
  static const std::vector<float> table = [] {
    std::vector<float> values(kPairs);
    for (unsigned e = 0; e < 256; ++e) {
      for (unsigned m = 0; m < 256; ++m) {
        values[RgbeKey(static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(e))] =
            RgbeToFloat(static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(e));
      }
    }
    return values;
  }();
  return table;
}

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

// ---- Float input ----

void SwapBytes4(std::uint8_t* bytes, std::size_t words) {
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * i, 4);
    word = __builtin_bswap32(word);
    std::memcpy(bytes + 4 * i, &word, 4);
  }
}

void AccumulateFloatPixels(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                           ChannelAccumulators& accumulators) {
  ChannelAccumulator red = accumulators[0], green = accumulators[1], blue = accumulators[2];
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* pixel = pixels + 12 * i;
    red.Add(std::bit_cast<float>(LoadWord(pixel, intelOrder)));
    green.Add(std::bit_cast<float>(LoadWord(pixel + 4, intelOrder)));
    blue.Add(std::bit_cast<float>(LoadWord(pixel + 8, intelOrder)));
  }
  accumulators = {red, green, blue};
}

void AccumulateFloatSums(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                         ChannelAccumulators& accumulators) {
#if defined(__SSE2__)
  static_assert(std::endian::native == std::endian::little);
  if (intelOrder) {
    // Red and green in the two halves of one register, blue in another: the
    // same additions in the same order, with fewer instructions around them.
    const __m128i exponent = _mm_set1_epi32(0x7F800000);
    __m128d redGreen = _mm_set_pd(accumulators[1].Sum, accumulators[0].Sum);
    __m128d blue = _mm_set_sd(accumulators[2].Sum);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* const pixel = pixels + 12 * i;
      std::int32_t blueWord;
      std::memcpy(&blueWord, pixel + 8, 4);
      const __m128i words[2] = {_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel)),
                                _mm_cvtsi32_si128(blueWord)};
      __m128 values[2];
      for (int k = 0; k < 2; ++k) {
        // A non-finite value adds +0, as in the sequential pass.
        const __m128i special = _mm_cmpeq_epi32(_mm_and_si128(words[k], exponent), exponent);
        values[k] = _mm_castsi128_ps(_mm_andnot_si128(special, words[k]));
      }
      redGreen = _mm_add_pd(redGreen, _mm_cvtps_pd(values[0]));
      blue = _mm_add_sd(blue, _mm_cvtss_sd(_mm_setzero_pd(), values[1]));
    }
    double sums[2];
    _mm_storeu_pd(sums, redGreen);
    accumulators[0].Sum = sums[0];
    accumulators[1].Sum = sums[1];
    accumulators[2].Sum = _mm_cvtsd_f64(blue);
    return;
  }
#endif
  double sums[3] = {accumulators[0].Sum, accumulators[1].Sum, accumulators[2].Sum};
  for (std::size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t bits = LoadWord(pixels + 12 * i + 4 * c, intelOrder);
      const bool finite = (bits & 0x7F800000u) != 0x7F800000u;
      sums[c] += finite ? static_cast<double>(std::bit_cast<float>(bits)) : 0.0;
    }
  }
  for (int c = 0; c < 3; ++c) accumulators[c].Sum = sums[c];
}

namespace {

#if defined(__SSE2__)
// The four bytes of each 32-bit lane reversed, without SSSE3's byte shuffle.
__m128i SwapWordBytes(__m128i word) {
  word = _mm_shufflehi_epi16(_mm_shufflelo_epi16(word, 0xB1), 0xB1);
  return _mm_or_si128(_mm_slli_epi16(word, 8), _mm_srli_epi16(word, 8));
}
#endif

constexpr std::size_t kExtremeLanes = 12;  // four pixels: each lane keeps one channel

// Per lane, the smallest and largest finite values: min and max are free of
// order, so the lanes may run side by side (NaNs fail both comparisons, and
// each infinity is turned into the other's neutral value).
template <bool Swap>
void FloatExtremeLanes(const std::uint8_t* words, std::size_t count, float* low, float* high) {
#if defined(__SSE2__)
  const __m128 minusInfinity = _mm_set1_ps(-std::numeric_limits<float>::infinity());
  const __m128 plusInfinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
  __m128 lows[3], highs[3];
  for (int k = 0; k < 3; ++k) {
    lows[k] = _mm_loadu_ps(low + 4 * k);
    highs[k] = _mm_loadu_ps(high + 4 * k);
  }
  for (std::size_t i = 0; i + kExtremeLanes <= count; i += kExtremeLanes) {
    for (int k = 0; k < 3; ++k) {
      __m128i word = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * i + 16 * k));
      if constexpr (Swap) {
        word = SwapWordBytes(word);
      }
      const __m128 v = _mm_castsi128_ps(word);
      const __m128 isMinus = _mm_cmpeq_ps(v, minusInfinity);
      const __m128 isPlus = _mm_cmpeq_ps(v, plusInfinity);
      // minps and maxps keep their second operand when the first is NaN.
      lows[k] = _mm_min_ps(_mm_or_ps(_mm_andnot_ps(isMinus, v), _mm_and_ps(isMinus, plusInfinity)),
                           lows[k]);
      highs[k] = _mm_max_ps(_mm_or_ps(_mm_andnot_ps(isPlus, v), _mm_and_ps(isPlus, minusInfinity)),
                            highs[k]);
    }
  }
  for (int k = 0; k < 3; ++k) {
    _mm_storeu_ps(low + 4 * k, lows[k]);
    _mm_storeu_ps(high + 4 * k, highs[k]);
  }
#else
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i + kExtremeLanes <= count; i += kExtremeLanes) {
    for (std::size_t j = 0; j < kExtremeLanes; ++j) {
      std::uint32_t word;
      std::memcpy(&word, words + 4 * (i + j), 4);
      const float v = std::bit_cast<float>(Swap ? __builtin_bswap32(word) : word);
      low[j] = (v > -kInfinity && v < low[j]) ? v : low[j];
      high[j] = (v < kInfinity && v > high[j]) ? v : high[j];
    }
  }
#endif
}

// The first zero of channel c among the pixels, as the sequential pass meets it.
float FirstZero(const std::uint8_t* pixels, std::size_t count, bool intelOrder, int c) {
  for (std::size_t i = 0; i < count; ++i) {
    const float value = std::bit_cast<float>(LoadWord(pixels + 12 * i + 4 * c, intelOrder));
    if (value == 0.0f) return value;
  }
  return 0.0f;
}

}  // namespace

void AccumulateFloatExtremes(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                             ChannelAccumulators& accumulators) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float low[kExtremeLanes], high[kExtremeLanes];
  std::fill(std::begin(low), std::end(low), kInfinity);
  std::fill(std::begin(high), std::end(high), -kInfinity);
  const std::size_t words = 3 * count;
  if (intelOrder == (std::endian::native == std::endian::little)) {
    FloatExtremeLanes<false>(pixels, words, low, high);
  } else {
    FloatExtremeLanes<true>(pixels, words, low, high);
  }
  for (std::size_t i = words - words % kExtremeLanes; i < words; ++i) {
    const float v = std::bit_cast<float>(LoadWord(pixels + 4 * i, intelOrder));
    const std::size_t j = i % kExtremeLanes;
    low[j] = (v > -kInfinity && v < low[j]) ? v : low[j];
    high[j] = (v < kInfinity && v > high[j]) ? v : high[j];
  }
  for (int c = 0; c < 3; ++c) {
    float lowest = kInfinity, highest = -kInfinity;
    for (std::size_t j = static_cast<std::size_t>(c); j < kExtremeLanes; j += 3) {
      lowest = std::min(lowest, low[j]);
      highest = std::max(highest, high[j]);
    }
    // In pixel order the first of equal extremes is kept; only zeros can be
    // equal and still differ, in their sign.
    ChannelAccumulator& channel = accumulators[c];
    if (static_cast<double>(lowest) < channel.Minimum) {
      channel.Minimum = lowest == 0.0f ? FirstZero(pixels, count, intelOrder, c) : lowest;
    }
    if (static_cast<double>(highest) > channel.Maximum) {
      channel.Maximum = highest == 0.0f ? FirstZero(pixels, count, intelOrder, c) : highest;
    }
  }
}

FloatToneMapper::FloatToneMapper(const ImageStatistics& statistics, float brightness,
                                 float postGamma)
    : brightness_(brightness), postGamma_(postGamma) {
  for (int c = 0; c < 3; ++c) {
    channels_[c].Minimum = statistics.Minimum[c];
    channels_[c].Average = statistics.Average[c];
    FindThresholds(channels_[c]);
  }
  BuildTable();
  for (Channel& channel : channels_) {
    if (channel.Thresholds) channel.Thresholds = AgreesWithReference(channel);
  }
  LimitLanes(8);
}

std::uint8_t FloatToneMapper::Reference(const Channel& channel, float value) const {
  return ToneMapChannel(value, channel.Minimum, channel.Average, brightness_, postGamma_,
                        OperatorWidth::Double);
}

[[gnu::always_inline]] inline std::uint8_t FloatToneMapper::Classify(const Channel& channel,
                                                                     std::uint32_t bits) const {
  const std::uint32_t key = KeyOf(bits);
  if (key - channel.LowKey >= channel.Span) [[unlikely]] {
    return Reference(channel, std::bit_cast<float>(bits));
  }
  std::uint32_t offset = key < channel.TableBase ? 0 : key - channel.TableBase;
  offset = std::min(offset, channel.TableLast);
  const std::uint32_t entry = table_[channel.TableStart + (offset >> shift_)];
  if (entry & kCrowded) [[unlikely]] {
    return ClassifyInBuckets(channel, key);
  }
  const std::uint32_t inEntry = offset & ((std::uint32_t{1} << shift_) - 1);
  return static_cast<std::uint8_t>((entry >> 24) + (inEntry >= (entry & (kCrowded - 1))));
}

std::uint8_t FloatToneMapper::ClassifyInBuckets(const Channel& channel, std::uint32_t key) const {
  const unsigned range = channel.Bucket[key >> 16];
  unsigned byte = range & 0xFFu;
  unsigned left = (range >> 8) - byte;
  // The byte lies in [byte, byte + left]; halve that range.
  while (left > 0) {
    const unsigned half = (left + 1) / 2;
    if (channel.Threshold[byte + half] <= key) {
      byte += half;
      left -= half;
    } else {
      left = half - 1;
    }
  }
  return static_cast<std::uint8_t>(byte);
}

std::uint8_t FloatToneMapper::MapValue(int channel, float value) const {
  const Channel& ch = channels_[channel];
  if (!ch.Thresholds) return Reference(ch, value);
  return Classify(ch, std::bit_cast<std::uint32_t>(value));
}

void FloatToneMapper::FindThresholds(Channel& channel) const {
  channel.Thresholds = false;
  const double c = static_cast<double>(channel.Average) / static_cast<double>(brightness_);
  const float k = postGamma_;
  // Outside these bounds the monotonicity argument does not hold.
  if (!std::isfinite(channel.Minimum) || !std::isfinite(c) || !(brightness_ > 0.0f) ||
      !(k >= 0x1p-20f && k <= 65536.0f)) {
    return;
  }

  // The lowest finite value at or above the minimum.
  std::uint32_t low = kLowestFiniteKey, high = kPlusInfinityKey;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (static_cast<double>(FloatOfKey(middle)) >= channel.Minimum) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  channel.LowKey = low;
  channel.Span = kPlusInfinityKey - low;
  const auto byteAt = [&](std::uint32_t key) { return Reference(channel, FloatOfKey(key)); };

  channel.Threshold[0] = channel.LowKey;
  channel.Threshold[256] = 0xFFFFFFFFu;
  for (unsigned j = 1; j < 256; ++j) {
    std::uint32_t from = channel.Threshold[j - 1], to = kPlusInfinityKey;
    while (from < to) {
      const std::uint32_t middle = from + (to - from) / 2;
      if (byteAt(middle) >= j) {
        to = middle;
      } else {
        from = middle + 1;
      }
    }
    channel.Threshold[j] = from;
  }

  channel.Bucket.assign(65536, 0);
  const auto byteCount = [&](std::uint32_t key) {
    return ThresholdsAtOrBelow(channel.Threshold, key);
  };
  for (std::uint32_t bucket = 0; bucket < 65536; ++bucket) {
    const std::uint32_t first = std::max(bucket << 16, channel.LowKey);
    const std::uint32_t last = std::min(bucket << 16 | 0xFFFFu, kPlusInfinityKey - 1);
    if (first > last) continue;
    channel.Bucket[bucket] = static_cast<std::uint16_t>(byteCount(first) | byteCount(last) << 8);
  }

  channel.TableBase = channel.Threshold[1] - 1;
  channel.TableLast = std::min(channel.Threshold[255], kPlusInfinityKey - 1) - channel.TableBase;
  channel.Thresholds = channel.LowKey < kPlusInfinityKey;
}

void FloatToneMapper::BuildTable() {
  // One entry width for all channels, so that the lanes of a vector differ
  // only in their channel's constants.
  shift_ = 0;
  for (const Channel& channel : channels_) {
    if (!channel.Thresholds) continue;
    while ((channel.TableLast >> shift_) >= kTableEntries) ++shift_;
  }
  const std::uint32_t entryKeys = std::uint32_t{1} << shift_;
  table_.clear();
  for (Channel& channel : channels_) {
    channel.TableStart = static_cast<std::uint32_t>(table_.size());
    if (!channel.Thresholds) continue;
    const std::uint32_t entries = (channel.TableLast >> shift_) + 1;
    for (std::uint32_t e = 0; e < entries; ++e) {
      const std::uint32_t first = channel.TableBase + (e << shift_);
      const std::uint32_t last =
          channel.TableBase + std::min(channel.TableLast, (e << shift_) + (entryKeys - 1));
      const unsigned low = ThresholdsAtOrBelow(channel.Threshold, first);
      const unsigned high = ThresholdsAtOrBelow(channel.Threshold, last);
      if (high == low) {
        table_.push_back(low << 24 | entryKeys);
      } else if (high == low + 1) {
        table_.push_back(low << 24 | (channel.Threshold[low + 1] - first));
      } else {
        table_.push_back(kCrowded);
      }
    }
  }
}

// Every threshold's neighbourhood and both ends of the domain must agree with
// the reference, or the channel stays with the reference.
bool FloatToneMapper::AgreesWithReference(const Channel& channel) const {
  const auto agrees = [&](std::uint32_t first, std::uint32_t last) {
    first = std::max(first, channel.LowKey);
    last = std::min(last, kPlusInfinityKey - 1);
    for (std::uint64_t key = first; key <= last; ++key) {
      const float value = FloatOfKey(static_cast<std::uint32_t>(key));
      if (Classify(channel, std::bit_cast<std::uint32_t>(value)) != Reference(channel, value)) {
        return false;
      }
    }
    return true;
  };
  bool exact = agrees(channel.LowKey, channel.LowKey + kCheckWindow) &&
               agrees(kPlusInfinityKey - kCheckWindow, kPlusInfinityKey - 1);
  for (unsigned j = 1; j < 256 && exact; ++j) {
    const std::uint32_t t = channel.Threshold[j];
    if (t >= kPlusInfinityKey || t == channel.Threshold[j - 1]) continue;
    exact = agrees(t - std::min(t, kCheckWindow), t + kCheckWindow);
  }
  return exact;
}

#if defined(__SSE2__)
// Four pixels at a time: twelve lanes in three vectors, each lane with its
// channel's constants; only the table entries are loaded one by one. A group
// with a value outside the table's reach (non-finite, below the minimum, a
// crowded entry) goes through Classify.
template <bool Swap>
void FloatToneMapper::MapInLanes(const std::uint8_t* pixels, std::size_t count,
                                 std::uint8_t* out) const {
  const __m128i bias = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
  __m128i lowKey[3], span[3], base[3], baseBiased[3], last[3], lastBiased[3], start[3];
  for (int k = 0; k < 3; ++k) {
    alignas(16) std::uint32_t lane[7][4];
    for (int l = 0; l < 4; ++l) {
      const Channel& channel = channels_[(4 * k + l) % 3];
      lane[0][l] = channel.LowKey;
      lane[1][l] = channel.Span ^ 0x80000000u;
      lane[2][l] = channel.TableBase;
      lane[3][l] = channel.TableBase ^ 0x80000000u;
      lane[4][l] = channel.TableLast;
      lane[5][l] = channel.TableLast ^ 0x80000000u;
      lane[6][l] = channel.TableStart;
    }
    const auto load = [&](int row) {
      return _mm_load_si128(reinterpret_cast<__m128i*>(lane[row]));
    };
    lowKey[k] = load(0);
    span[k] = load(1);
    base[k] = load(2);
    baseBiased[k] = load(3);
    last[k] = load(4);
    lastBiased[k] = load(5);
    start[k] = load(6);
  }
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(shift_));
  const __m128i inEntryMask = _mm_set1_epi32(static_cast<int>((1u << shift_) - 1));
  const __m128i positionMask = _mm_set1_epi32(static_cast<int>(kCrowded - 1));
  const __m128i crowded = _mm_set1_epi32(static_cast<int>(kCrowded));
  const __m128i one = _mm_set1_epi32(1);
  const std::uint32_t* const table = table_.data();

  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const std::uint8_t* const group = pixels + 12 * i;
    __m128i bytes[3];
    __m128i unusual = _mm_setzero_si128();
    for (int k = 0; k < 3; ++k) {
      __m128i word = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + 16 * k));
      if constexpr (Swap) {
        word = SwapWordBytes(word);
      }
      const __m128i key = _mm_xor_si128(word, _mm_or_si128(_mm_srai_epi32(word, 31), bias));
      // Unsigned comparisons as signed ones of biased values.
      const __m128i inDomain =
          _mm_cmplt_epi32(_mm_xor_si128(_mm_sub_epi32(key, lowKey[k]), bias), span[k]);
      const __m128i below = _mm_cmplt_epi32(_mm_xor_si128(key, bias), baseBiased[k]);
      __m128i offset = _mm_andnot_si128(below, _mm_sub_epi32(key, base[k]));
      const __m128i above = _mm_cmpgt_epi32(_mm_xor_si128(offset, bias), lastBiased[k]);
      offset = _mm_or_si128(_mm_and_si128(above, last[k]), _mm_andnot_si128(above, offset));
      alignas(16) std::uint32_t index[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(index),
                      _mm_add_epi32(_mm_srl_epi32(offset, shift), start[k]));
      const __m128i entry =
          _mm_set_epi32(static_cast<int>(table[index[3]]), static_cast<int>(table[index[2]]),
                        static_cast<int>(table[index[1]]), static_cast<int>(table[index[0]]));
      unusual = _mm_or_si128(unusual, _mm_andnot_si128(inDomain, one));
      unusual = _mm_or_si128(unusual, _mm_and_si128(entry, crowded));
      // byte + (offset in entry >= position), as byte + 1 - (position > offset in entry).
      const __m128i later =
          _mm_cmpgt_epi32(_mm_and_si128(entry, positionMask), _mm_and_si128(offset, inEntryMask));
      bytes[k] = _mm_add_epi32(_mm_add_epi32(_mm_srli_epi32(entry, 24), one), later);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(unusual, _mm_setzero_si128())) != 0xFFFF) [[unlikely]] {
      for (std::size_t v = 0; v < 12; ++v) {
        out[3 * i + v] = Classify(channels_[v % 3], LoadWord(group + 4 * v, !Swap));
      }
      continue;
    }
    const __m128i packed =
        _mm_packus_epi16(_mm_packs_epi32(bytes[0], bytes[1]), _mm_packs_epi32(bytes[2], bytes[2]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i), packed);
    const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(out + 3 * i + 8, &high, 4);
  }
  for (std::size_t v = 3 * i; v < 3 * count; ++v) {
    out[v] = Classify(channels_[v % 3], LoadWord(pixels + 4 * v, !Swap));
  }
}
#endif

#if defined(__SSE2__)
// Eight pixels at a time, as MapInLanes does four: 24 lanes in three vectors,
// the table entries gathered.
template <bool Swap>
[[gnu::target("avx2")]] void FloatToneMapper::MapInWideLanes(const std::uint8_t* pixels,
                                                             std::size_t count,
                                                             std::uint8_t* out) const {
  __m256i lowKey[3], spanLast[3], base[3], last[3], start[3];
  for (int k = 0; k < 3; ++k) {
    alignas(32) std::uint32_t lane[5][8];
    for (int l = 0; l < 8; ++l) {
      const Channel& channel = channels_[(8 * k + l) % 3];
      lane[0][l] = channel.LowKey;
      lane[1][l] = channel.Span - 1;
      lane[2][l] = channel.TableBase;
      lane[3][l] = channel.TableLast;
      lane[4][l] = channel.TableStart;
    }
    // (A lambda here would not inherit the function's target.)
    lowKey[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane[0]));
    spanLast[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane[1]));
    base[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane[2]));
    last[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane[3]));
    start[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane[4]));
  }
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(shift_));
  const __m256i inEntryMask = _mm256_set1_epi32(static_cast<int>((1u << shift_) - 1));
  const __m256i positionMask = _mm256_set1_epi32(static_cast<int>(kCrowded - 1));
  const __m256i crowded = _mm256_set1_epi32(static_cast<int>(kCrowded));
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i signBit = _mm256_set1_epi32(std::numeric_limits<std::int32_t>::min());
  const __m256i swapBytes = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                             3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  // The packed bytes of the three vectors arrive as dwords 0 4 1 5 2 6.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const int* const table = reinterpret_cast<const int*>(table_.data());

  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint8_t* const group = pixels + 12 * i;
    __m256i bytes[3];
    __m256i unusual = _mm256_setzero_si256();
    for (int k = 0; k < 3; ++k) {
      __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group + 32 * k));
      if constexpr (Swap) word = _mm256_shuffle_epi8(word, swapBytes);
      const __m256i key =
          _mm256_xor_si256(word, _mm256_or_si256(_mm256_srai_epi32(word, 31), signBit));
      const __m256i fromLow = _mm256_sub_epi32(key, lowKey[k]);
      const __m256i inDomain = _mm256_cmpeq_epi32(_mm256_min_epu32(fromLow, spanLast[k]), fromLow);
      const __m256i offset =
          _mm256_min_epu32(_mm256_sub_epi32(_mm256_max_epu32(key, base[k]), base[k]), last[k]);
      const __m256i index = _mm256_add_epi32(_mm256_srl_epi32(offset, shift), start[k]);
      const __m256i entry = _mm256_i32gather_epi32(table, index, 4);
      unusual = _mm256_or_si256(unusual, _mm256_andnot_si256(inDomain, one));
      unusual = _mm256_or_si256(unusual, _mm256_and_si256(entry, crowded));
      const __m256i later = _mm256_cmpgt_epi32(_mm256_and_si256(entry, positionMask),
                                               _mm256_and_si256(offset, inEntryMask));
      bytes[k] = _mm256_add_epi32(_mm256_add_epi32(_mm256_srli_epi32(entry, 24), one), later);
    }
    if (!_mm256_testz_si256(unusual, unusual)) [[unlikely]] {
      for (std::size_t v = 0; v < 24; ++v) {
        out[3 * i + v] = Classify(channels_[v % 3], LoadWord(group + 4 * v, !Swap));
      }
      continue;
    }
    const __m256i packed =
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packs_epi32(bytes[0], bytes[1]),
                                                        _mm256_packs_epi32(bytes[2], bytes[2])),
                                    order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i + 16),
                     _mm256_extracti128_si256(packed, 1));
  }
  MapInLanes<Swap>(pixels + 12 * i, count - i, out + 3 * i);
}
#endif

void FloatToneMapper::LimitLanes(unsigned lanes) {
#if defined(__SSE2__)
  const unsigned widest = __builtin_cpu_supports("avx2") ? 8 : 4;
#else
  const unsigned widest = 1;
#endif
  lanes_ = lanes >= 8 ? widest : lanes >= 4 ? std::min(widest, 4u) : 1;
}

void FloatToneMapper::Map(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                          std::uint8_t* out) const {
  const Channel& red = channels_[0];
  const Channel& green = channels_[1];
  const Channel& blue = channels_[2];
  if (red.Thresholds && green.Thresholds && blue.Thresholds) {
#if defined(__SSE2__)
    static_assert(std::endian::native == std::endian::little);
    if (lanes_ == 8) {
      if (intelOrder) {
        MapInWideLanes<false>(pixels, count, out);
      } else {
        MapInWideLanes<true>(pixels, count, out);
      }
      return;
    }
    if (lanes_ == 4) {
      if (intelOrder) {
        MapInLanes<false>(pixels, count, out);
      } else {
        MapInLanes<true>(pixels, count, out);
      }
      return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
      out[3 * i] = Classify(red, LoadWord(pixels + 12 * i, intelOrder));
      out[3 * i + 1] = Classify(green, LoadWord(pixels + 12 * i + 4, intelOrder));
      out[3 * i + 2] = Classify(blue, LoadWord(pixels + 12 * i + 8, intelOrder));
    }
    return;
  }
  for (std::size_t i = 0; i < 3 * count; ++i) {
    const Channel& channel = channels_[i % 3];
    const std::uint32_t bits = LoadWord(pixels + 4 * i, intelOrder);
    out[i] = channel.Thresholds ? Classify(channel, bits)
                                : Reference(channel, std::bit_cast<float>(bits));
  }
}

}  // namespace lumivane
