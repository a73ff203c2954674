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
