#include "imaging/rgbepixels.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "formats/rgbe.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumivane {

namespace {

constexpr float kSmallestNormal = std::numeric_limits<float>::min();

// RgbeToFloat(m, e) is (2m + 1) x 2^(e - 137), exact as a float product:
// two small tables, where one 64K table by (m, e) would miss the cache.
struct RgbeTables {
  float Odd[256];    // 2m + 1
  float Scale[256];  // 2^(e - 137), subnormal below e = 11

  RgbeTables() {
    for (int k = 0; k < 256; ++k) {
      Odd[k] = static_cast<float>(2 * k + 1);
      Scale[k] = std::ldexp(1.0f, k - 137);
    }
  }
};

const RgbeTables& Tables() {
  static const RgbeTables tables;
  return tables;
}

}  // namespace

void LoadRgbeBlock(const RgbePlanes& pixels, std::size_t count, PixelBlock& block) {
  const RgbeTables& t = Tables();
  float* const planes[3] = {block.R, block.G, block.B};
  const std::uint8_t* const mantissas[3] = {pixels.R, pixels.G, pixels.B};
  // The values are never negative nor infinite; the smallest exponents give
  // values below a normal float, which Load takes as 0. From E = 11 on,
  // 2^(E - 137) is a normal float and every value is one: four at a time as
  // (2m + 1) x 2^(E - 137) made from the bits.
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 4 <= count; i += 4) {
    std::uint32_t e4 = 0;
    std::memcpy(&e4, pixels.E + i, 4);
    const __m128i e =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(e4)), zero), zero);
    if (_mm_movemask_epi8(_mm_cmplt_epi32(e, _mm_set1_epi32(11))) != 0) break;
    const __m128 scale = _mm_castsi128_ps(_mm_slli_epi32(_mm_sub_epi32(e, _mm_set1_epi32(10)), 23));
    for (int c = 0; c < 3; ++c) {
      std::uint32_t m4 = 0;
      std::memcpy(&m4, mantissas[c] + i, 4);
      const __m128i m = _mm_unpacklo_epi16(
          _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(m4)), zero), zero);
      const __m128 odd = _mm_cvtepi32_ps(_mm_add_epi32(_mm_add_epi32(m, m), _mm_set1_epi32(1)));
      _mm_store_ps(planes[c] + i, _mm_mul_ps(odd, scale));
    }
  }
#endif
  for (int c = 0; c < 3; ++c) {
    float* const plane = planes[c];
    const std::uint8_t* const m = mantissas[c];
    for (std::size_t k = i; k < count; ++k) {
      const float v = t.Odd[m[k]] * t.Scale[pixels.E[k]];
      plane[k] = v >= kSmallestNormal ? v : 0.0f;
    }
  }
  block.Count = count;
  block.FinishLoad();
}

void RgbePlanesToFloats(const RgbePlanes& pixels, std::size_t count, float* rgb) {
  const float* const table = RgbeFloatTable().data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t e = pixels.E[i];
    rgb[3 * i] = table[RgbeKey(pixels.R[i], e)];
    rgb[3 * i + 1] = table[RgbeKey(pixels.G[i], e)];
    rgb[3 * i + 2] = table[RgbeKey(pixels.B[i], e)];
  }
}

}  // namespace lumivane
