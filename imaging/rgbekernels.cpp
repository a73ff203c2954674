#include "imaging/rgbekernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
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
                                   float postGamma, RowWorkers& workers,
                                   const ChannelAccumulators* present) {
  RgbeToneTables tables;
  for (auto& channel : tables.Channel) channel.assign(kPairs, 0);
  // One task per channel and exponent, taken as threads come free: a
  // photograph's pairs crowd into a few dozen exponents.
  workers.RunTasks(3 * 256, [&](std::size_t item) {
    const int c = static_cast<int>(item % 3);
    const std::size_t first = (item / 3) << 8;
    std::vector<std::uint8_t>& table = tables.Channel[c];
    for (std::size_t key = first; key < first + 256; ++key) {
      // Not from RgbeFloatTable: this may be the job's first use of it, and
      // building it would hold up every thread.
      const float value =
          RgbeToFloat(static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8));
      if (present && ((*present)[c].Minimum > value || value > (*present)[c].Maximum)) continue;
      table[key] = ToneMapChannel(value, statistics.Minimum[c], statistics.Average[c], brightness,
                                  postGamma, OperatorWidth::Single);
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

#if defined(__SSE2__)
// 2M + 1 of eight mantissa bytes, as 32-bit lanes: the odd factor of every
// Radiance value.
[[gnu::target("avx2")]] inline __m256i OddMantissas(const std::uint8_t* mantissas) {
  const __m256i wide =
      _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mantissas)));
  return _mm256_add_epi32(_mm256_slli_epi32(wide, 1), _mm256_set1_epi32(1));
}
#endif

// Each value as (2M + 1) x 2^E, the exponent added to the bits of the double
// 2M + 1 (no table, no gather): 2^137 times RgbeToFloat, which is exact.
// Lowest and DarkPlusOne are RgbeSumPiece's LowestExponent and HighestDarkExponent + 1.
struct ScaledSums {
  double Total[3] = {0.0, 0.0, 0.0};
  std::uint8_t Lowest = 255;
  std::uint8_t DarkPlusOne = 0;

  void AddPlain(const std::uint8_t* const planes[3], const std::uint8_t* e, std::size_t from,
                std::size_t count) {
    for (std::size_t i = from; i < count; ++i) {
      if (e[i] < kRgbeDarkExponent) {
        DarkPlusOne = std::max<std::uint8_t>(DarkPlusOne, e[i] + 1);
        continue;
      }
      Lowest = std::min(Lowest, e[i]);
      for (int c = 0; c < 3; ++c) {
        Total[c] += std::ldexp(static_cast<double>(2 * planes[c][i] + 1), e[i]);
      }
    }
  }
};

#if defined(__SSE2__)
[[gnu::target("avx2")]] void SumRgbeScaled(const std::uint8_t* const planes[3],
                                           const std::uint8_t* e, std::size_t count,
                                           ScaledSums& out) {
  const __m128i darkLimit = _mm_set1_epi8(static_cast<char>(kRgbeDarkExponent));
  __m256d sums[3][2];
  for (auto& channel : sums) channel[0] = channel[1] = _mm256_setzero_pd();
  __m128i low = _mm_set1_epi8(-1), dark = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i exponents = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(e + i));
    // All ones where E >= the dark limit.
    const __m128i bright = _mm_cmpeq_epi8(_mm_max_epu8(exponents, darkLimit), exponents);
    low = _mm_min_epu8(low, _mm_or_si128(exponents, _mm_xor_si128(bright, _mm_set1_epi8(-1))));
    dark = _mm_max_epu8(dark, _mm_andnot_si128(bright, _mm_add_epi8(exponents, _mm_set1_epi8(1))));
    const __m256i shift[2] = {
        _mm256_slli_epi64(_mm256_cvtepu8_epi64(exponents), 52),
        _mm256_slli_epi64(_mm256_cvtepu8_epi64(_mm_srli_si128(exponents, 4)), 52)};
    const __m256d keep[2] = {_mm256_castsi256_pd(_mm256_cvtepi8_epi64(bright)),
                             _mm256_castsi256_pd(_mm256_cvtepi8_epi64(_mm_srli_si128(bright, 4)))};
    for (int c = 0; c < 3; ++c) {
      const __m256i odd = OddMantissas(planes[c] + i);
      const __m256d halves[2] = {_mm256_cvtepi32_pd(_mm256_castsi256_si128(odd)),
                                 _mm256_cvtepi32_pd(_mm256_extracti128_si256(odd, 1))};
      for (int h = 0; h < 2; ++h) {
        const __m256d value =
            _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(halves[h]), shift[h]));
        sums[c][h] = _mm256_add_pd(sums[c][h], _mm256_and_pd(value, keep[h]));
      }
    }
  }
  alignas(16) std::uint8_t lane[2][16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane[0]), low);
  _mm_store_si128(reinterpret_cast<__m128i*>(lane[1]), dark);
  out.Lowest = *std::min_element(lane[0], lane[0] + 8);
  out.DarkPlusOne = *std::max_element(lane[1], lane[1] + 8);
  for (int c = 0; c < 3; ++c) {
    alignas(32) double part[4];
    _mm256_store_pd(part, _mm256_add_pd(sums[c][0], sums[c][1]));
    out.Total[c] = (part[0] + part[1]) + (part[2] + part[3]);
  }
  out.AddPlain(planes, e, i, count);
}
#endif

// The exponent of the lowest set bit of a positive double.
int LowestBitExponent(double value) {
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);  // in [0.5, 1): 53 bits
  const auto whole = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  return exponent - 53 + std::countr_zero(whole);
}

}  // namespace

RgbeSumPiece SumRgbePiece(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                          const std::uint8_t* e, std::size_t count) {
  const std::uint8_t* const planes[3] = {r, g, b};
  ScaledSums sums;
#if defined(__SSE2__)
  if (__builtin_cpu_supports("avx2")) {
    SumRgbeScaled(planes, e, count, sums);
  } else {
    sums.AddPlain(planes, e, 0, count);
  }
#else
  sums.AddPlain(planes, e, 0, count);
#endif
  RgbeSumPiece piece;
  for (int c = 0; c < 3; ++c) piece.Total[c] = std::ldexp(sums.Total[c], -137);
  piece.LowestExponent = sums.Lowest;
  piece.HighestDarkExponent = sums.DarkPlusOne - 1;
  return piece;
}

bool AddRgbeSumPiece(const RgbeSumPiece& piece, ChannelAccumulators& accumulators) {
  for (int c = 0; c < 3; ++c) {
    const double sum = accumulators[c].Sum;
    // A dark value is below 2^(E - 128): under half the last place of a sum
    // in [2^k, 2^(k+1)), 2^(k - 53), it leaves that sum and every larger one
    // unchanged.
    if (piece.HighestDarkExponent >= 0 &&
        (sum == 0.0 || piece.HighestDarkExponent - 128 > std::ilogb(sum) - 53)) {
      return false;
    }
    // Every partial sum of the others is a multiple of the unit and at most
    // sum + total.
    int unit = piece.LowestExponent - 137;
    if (sum != 0.0) unit = std::min(unit, LowestBitExponent(sum));
    const double limit = std::ldexp(1.0, 52 + unit);
    if (!(sum < limit && piece.Total[c] < limit)) return false;
  }
  for (int c = 0; c < 3; ++c) accumulators[c].Sum += piece.Total[c];
  return true;
}

namespace {

// A key that orders the pairs as their values: (2M + 1) x 2^E as the bits of
// the float 2M + 1 with E added to the exponent field. The sum never passes
// 32 bits (exponent field at most 127 + 8 + 255), and 2M + 1 is odd, so the
// key is one-to-one. No table and no gather: a few lane operations a pixel.
std::uint32_t RgbeOrderKey(std::uint8_t mantissa, std::uint8_t exponent) {
  return std::bit_cast<std::uint32_t>(static_cast<float>(2 * mantissa + 1)) +
         (std::uint32_t{exponent} << 23);
}

// The value of a key: RgbeToFloat's, exactly.
double RgbeKeyValue(std::uint32_t key) {
  const auto field = static_cast<int>(key >> 23);
  return std::ldexp(static_cast<double>((key & 0x7FFFFFu) | 0x800000u), field - 127 - 23 - 137);
}

#if defined(__SSE2__)
[[gnu::target("avx2")]] void RgbeExtremeKeys(const std::uint8_t* const planes[3],
                                             const std::uint8_t* e, std::size_t count,
                                             std::uint32_t low[3], std::uint32_t high[3]) {
  __m256i lows[3], highs[3];
  for (int c = 0; c < 3; ++c) {
    lows[c] = _mm256_set1_epi32(-1);
    highs[c] = _mm256_setzero_si256();
  }
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i exponent = _mm256_slli_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(e + i))), 23);
    for (int c = 0; c < 3; ++c) {
      const __m256 odd = _mm256_cvtepi32_ps(OddMantissas(planes[c] + i));
      const __m256i key = _mm256_add_epi32(_mm256_castps_si256(odd), exponent);
      lows[c] = _mm256_min_epu32(lows[c], key);
      highs[c] = _mm256_max_epu32(highs[c], key);
    }
  }
  for (int c = 0; c < 3; ++c) {
    alignas(32) std::uint32_t lane[2][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane[0]), lows[c]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane[1]), highs[c]);
    low[c] = *std::min_element(lane[0], lane[0] + 8);
    high[c] = *std::max_element(lane[1], lane[1] + 8);
    for (std::size_t j = i; j < count; ++j) {
      const std::uint32_t key = RgbeOrderKey(planes[c][j], e[j]);
      low[c] = std::min(low[c], key);
      high[c] = std::max(high[c], key);
    }
  }
}
#endif

void RgbeExtremeKeysPlain(const std::uint8_t* const planes[3], const std::uint8_t* e,
                          std::size_t count, std::uint32_t low[3], std::uint32_t high[3]) {
  for (int c = 0; c < 3; ++c) {
    std::uint32_t lowest = ~0u, highest = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t key = RgbeOrderKey(planes[c][i], e[i]);
      lowest = std::min(lowest, key);
      highest = std::max(highest, key);
    }
    low[c] = lowest;
    high[c] = highest;
  }
}

}  // namespace

void AccumulateRgbeExtremes(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                            const std::uint8_t* e, std::size_t count,
                            ChannelAccumulators& accumulators) {
  if (count == 0) return;
  const std::uint8_t* const planes[3] = {r, g, b};
  std::uint32_t low[3], high[3];
#if defined(__SSE2__)
  if (__builtin_cpu_supports("avx2")) {
    RgbeExtremeKeys(planes, e, count, low, high);
  } else {
    RgbeExtremeKeysPlain(planes, e, count, low, high);
  }
#else
  RgbeExtremeKeysPlain(planes, e, count, low, high);
#endif
  for (int c = 0; c < 3; ++c) {
    const double lowest = RgbeKeyValue(low[c]), highest = RgbeKeyValue(high[c]);
    if (lowest < accumulators[c].Minimum) accumulators[c].Minimum = lowest;
    if (highest > accumulators[c].Maximum) accumulators[c].Maximum = highest;
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

namespace {

#if defined(__SSE2__)
// Eight pixels at a time: each value is the float 2M + 1 with E - 137 added to
// its exponent field, exact while the result stays normal (E of 11 or more);
// groups with a smaller E take the table. The three channels are then woven
// into R, G, B order by lane permutes.
// Returns where it stopped: at the end of the last whole group, or at a group
// that it left to the table.
[[gnu::target("avx2")]] std::size_t RgbeFloatsInLanes(const std::uint8_t* const planes[3],
                                                      const std::uint8_t* e, std::size_t from,
                                                      std::size_t count, std::uint8_t* out) {
  const __m256i bias = _mm256_set1_epi32(137);
  const __m256i normal = _mm256_set1_epi32(11);
  // Where each output word comes from, per channel; blends pick the channel.
  const __m256i source[3][3] = {
      {_mm256_setr_epi32(0, 0, 0, 1, 0, 0, 2, 0), _mm256_setr_epi32(0, 0, 0, 0, 1, 0, 0, 2),
       _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 0, 0)},
      {_mm256_setr_epi32(0, 3, 0, 0, 4, 0, 0, 5), _mm256_setr_epi32(0, 0, 3, 0, 0, 4, 0, 0),
       _mm256_setr_epi32(2, 0, 0, 3, 0, 0, 4, 0)},
      {_mm256_setr_epi32(0, 0, 6, 0, 0, 7, 0, 0), _mm256_setr_epi32(5, 0, 0, 6, 0, 0, 7, 0),
       _mm256_setr_epi32(0, 5, 0, 0, 6, 0, 0, 7)}};
  std::size_t i = from;
  for (; i + 8 <= count; i += 8) {
    const __m256i exponent =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(e + i)));
    const __m256i small = _mm256_cmpgt_epi32(normal, exponent);
    if (!_mm256_testz_si256(small, small)) {
      break;
    }
    const __m256i shift = _mm256_slli_epi32(_mm256_sub_epi32(exponent, bias), 23);
    __m256i value[3];
    for (int c = 0; c < 3; ++c) {
      const __m256i odd = OddMantissas(planes[c] + i);
      value[c] = _mm256_add_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(odd)), shift);
    }
    for (int k = 0; k < 3; ++k) {
      // Output words 8k to 8k + 7: channel (8k + j) % 3 of pixel (8k + j) / 3.
      const __m256i r = _mm256_permutevar8x32_epi32(value[0], source[k][0]);
      const __m256i g = _mm256_permutevar8x32_epi32(value[1], source[k][1]);
      const __m256i b = _mm256_permutevar8x32_epi32(value[2], source[k][2]);
      __m256i woven;
      if (k == 0) {
        woven = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0b10010010), b, 0b00100100);
      } else if (k == 1) {
        woven = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0b00100100), b, 0b01001001);
      } else {
        woven = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0b01001001), b, 0b10010010);
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 12 * i + 32 * k), woven);
    }
  }
  return i;
}
#endif

void RgbeFloatsFromTable(const std::uint8_t* const planes[3], const std::uint8_t* e,
                         std::size_t from, std::size_t count, std::uint8_t* out) {
  const float* values = RgbeFloatTable().data();
  for (std::size_t i = from; i < count; ++i) {
    const std::size_t high = static_cast<std::size_t>(e[i]) << 8;
    for (int c = 0; c < 3; ++c) {
      StoreLittleEndian(out + 12 * i + 4 * c,
                        std::bit_cast<std::uint32_t>(values[high | planes[c][i]]));
    }
  }
}

}  // namespace

void RgbePixelsToFloats(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count, std::uint8_t* out) {
  const std::uint8_t* const planes[3] = {r, g, b};
  std::size_t done = 0;
#if defined(__SSE2__)
  static const bool lanes = __builtin_cpu_supports("avx2");
  // Groups with a small exponent go to the table, eight pixels at a time.
  while (lanes) {
    done = RgbeFloatsInLanes(planes, e, done, count, out);
    if (count - done < 8) break;
    RgbeFloatsFromTable(planes, e, done, done + 8, out);
    done += 8;
  }
#endif
  RgbeFloatsFromTable(planes, e, done, count, out);
}

}  // namespace lumivane
