#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imaging/floattonemapper.h"
#include "imaging/floatwords.h"

namespace lumivane {

#if defined(__SSE2__)
namespace {

// Four pixels a group in SSE2: unsigned comparisons as signed ones of biased
// values, the bytes of a word reversed without SSSE3's byte shuffle, and the
// table entries loaded one by one.
struct Sse2Lanes {
  using Vector = __m128i;
  static constexpr std::size_t Pixels = 4;
  struct Constants {
    __m128i LowKey, SpanBiased, Base, BaseBiased, Last, LastBiased, Start;
  };

  static __m128i Set1(std::uint32_t value) { return _mm_set1_epi32(static_cast<int>(value)); }
  static __m128i Load(const void* from) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
  }
  static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
  static __m128i Greater(__m128i a, __m128i b) { return _mm_cmpgt_epi32(a, b); }
  static __m128i SignMask(__m128i word) { return _mm_srai_epi32(word, 31); }
  static __m128i HighByte(__m128i word) { return _mm_srli_epi32(word, 24); }
  static __m128i ShiftRight(__m128i word, __m128i shift) { return _mm_srl_epi32(word, shift); }
  static __m128i SwapWordBytes(__m128i word) { return lumivane::SwapWordBytes(word); }
  static bool AnySet(__m128i word) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(word, _mm_setzero_si128())) != 0xFFFF;
  }

  static Constants MakeConstants(const std::uint32_t* low, const std::uint32_t* span,
                                 const std::uint32_t* base, const std::uint32_t* last,
                                 const std::uint32_t* start) {
    const __m128i bias = Set1(0x80000000u);
    return {Load(low),  Load(span) ^ bias, Load(base), Load(base) ^ bias,
            Load(last), Load(last) ^ bias, Load(start)};
  }
  // key - LowKey < Span, unsigned.
  static __m128i InDomain(__m128i key, const Constants& c) {
    const __m128i bias = Set1(0x80000000u);
    return _mm_cmplt_epi32(_mm_sub_epi32(key, c.LowKey) ^ bias, c.SpanBiased);
  }
  // min(max(key, Base) - Base, Last), unsigned.
  static __m128i Offset(__m128i key, const Constants& c) {
    const __m128i bias = Set1(0x80000000u);
    const __m128i below = _mm_cmplt_epi32(key ^ bias, c.BaseBiased);
    const __m128i offset = ~below & _mm_sub_epi32(key, c.Base);
    const __m128i above = Greater(offset ^ bias, c.LastBiased);
    return (above & c.Last) | (~above & offset);
  }
  static __m128i Gather(const std::uint32_t* table, __m128i index) {
    alignas(16) std::uint32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
    return _mm_set_epi32(static_cast<int>(table[at[3]]), static_cast<int>(table[at[2]]),
                         static_cast<int>(table[at[1]]), static_cast<int>(table[at[0]]));
  }
  // Twelve bytes, one from each lane, in lane order.
  static void StoreBytes(std::uint8_t* out, const __m128i bytes[3]) {
    const __m128i packed =
        _mm_packus_epi16(_mm_packs_epi32(bytes[0], bytes[1]), _mm_packs_epi32(bytes[2], bytes[2]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(out + 8, &high, 4);
  }
};

// Eight pixels a group in AVX2: unsigned minima and maxima, a byte shuffle, and
// the table entries gathered. Every operation carries the target, so that it
// is inlined into the AVX2 loop.
#define LUMIVANE_AVX2 [[gnu::always_inline, gnu::target("avx2")]] static
struct Avx2Lanes {
  using Vector = __m256i;
  static constexpr std::size_t Pixels = 8;
  struct Constants {
    __m256i LowKey, SpanLast, Base, Last, Start;
  };

  LUMIVANE_AVX2 __m256i Set1(std::uint32_t value) {
    return _mm256_set1_epi32(static_cast<int>(value));
  }
  LUMIVANE_AVX2 __m256i Load(const void* from) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(from));
  }
  LUMIVANE_AVX2 __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
  LUMIVANE_AVX2 __m256i Greater(__m256i a, __m256i b) { return _mm256_cmpgt_epi32(a, b); }
  LUMIVANE_AVX2 __m256i SignMask(__m256i word) { return _mm256_srai_epi32(word, 31); }
  LUMIVANE_AVX2 __m256i HighByte(__m256i word) { return _mm256_srli_epi32(word, 24); }
  LUMIVANE_AVX2 __m256i ShiftRight(__m256i word, __m128i shift) {
    return _mm256_srl_epi32(word, shift);
  }
  LUMIVANE_AVX2 __m256i SwapWordBytes(__m256i word) {
    const __m256i swapBytes =
        _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6, 5,
                         4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(word, swapBytes);
  }
  LUMIVANE_AVX2 bool AnySet(__m256i word) { return !_mm256_testz_si256(word, word); }

  LUMIVANE_AVX2 Constants MakeConstants(const std::uint32_t* low, const std::uint32_t* span,
                                        const std::uint32_t* base, const std::uint32_t* last,
                                        const std::uint32_t* start) {
    return {Load(low), _mm256_sub_epi32(Load(span), Set1(1)), Load(base), Load(last), Load(start)};
  }
  LUMIVANE_AVX2 __m256i InDomain(__m256i key, const Constants& c) {
    const __m256i fromLow = _mm256_sub_epi32(key, c.LowKey);
    return _mm256_cmpeq_epi32(_mm256_min_epu32(fromLow, c.SpanLast), fromLow);
  }
  LUMIVANE_AVX2 __m256i Offset(__m256i key, const Constants& c) {
    return _mm256_min_epu32(_mm256_sub_epi32(_mm256_max_epu32(key, c.Base), c.Base), c.Last);
  }
  LUMIVANE_AVX2 __m256i Gather(const std::uint32_t* table, __m256i index) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
  }
  // 24 bytes, one from each lane, in lane order: the packed bytes of the three
  // vectors arrive as dwords 0 4 1 5 2 6.
  LUMIVANE_AVX2 void StoreBytes(std::uint8_t* out, const __m256i bytes[3]) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i packed =
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packs_epi32(bytes[0], bytes[1]),
                                                        _mm256_packs_epi32(bytes[2], bytes[2])),
                                    order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
  }
};
#undef LUMIVANE_AVX2

}  // namespace

// The pixels after the last group, value by value.
#define LUMIVANE_LANES Sse2Lanes
#define LUMIVANE_LANE_MAP MapInLanes
#define LUMIVANE_LANE_TARGET
#define LUMIVANE_LANE_TAIL                                                \
  for (std::size_t v = 3 * i; v < 3 * count; ++v) {                       \
    out[v] = Classify(channels_[v % 3], LoadWord(pixels + 4 * v, !Swap)); \
  }
#include "imaging/floatlanemap.h"
#undef LUMIVANE_LANES
#undef LUMIVANE_LANE_MAP
#undef LUMIVANE_LANE_TARGET
#undef LUMIVANE_LANE_TAIL

// The pixels after the last group of eight, four at a time.
#define LUMIVANE_LANES Avx2Lanes
#define LUMIVANE_LANE_MAP MapInWideLanes
#define LUMIVANE_LANE_TARGET [[gnu::target("avx2")]]
#define LUMIVANE_LANE_TAIL MapInLanes<Swap>(pixels + 12 * i, count - i, out + 3 * i)
#include "imaging/floatlanemap.h"
#undef LUMIVANE_LANES
#undef LUMIVANE_LANE_MAP
#undef LUMIVANE_LANE_TARGET
#undef LUMIVANE_LANE_TAIL
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
