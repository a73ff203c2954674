// Natural logarithm and exponential of four floats at a time (SSE2, which
// every x86-64 processor has), without the library: plain arithmetic on the
// floats' bits, no branches and no table, the same bits on every thread and
// in every lane. Both are within a few units in the last place of the
// library's functions over the range they accept, far below what an 8-bit
// picture can show.
#pragma once

#include <emmintrin.h>

namespace lumivane {

// ln(x) for positive normal floats (other lanes give some finite number,
// for the caller to mask).
inline __m128 FastLn4(__m128 x) {
  // x = 2^e x m with m in [sqrt(1/2), sqrt(2)), so that ln(m) stays small.
  const __m128i sqrtHalf = _mm_set1_epi32(0x3F3504F3);
  const __m128i shifted = _mm_sub_epi32(_mm_castps_si128(x), sqrtHalf);
  const __m128 e = _mm_cvtepi32_ps(_mm_srai_epi32(shifted, 23));
  const __m128 m =
      _mm_castsi128_ps(_mm_add_epi32(_mm_and_si128(shifted, _mm_set1_epi32(0x007FFFFF)), sqrtHalf));
  // ln(m) = 2 atanh(t) with t = (m - 1) / (m + 1), |t| <= 0.172.
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 t = _mm_div_ps(_mm_sub_ps(m, one), _mm_add_ps(m, one));
  const __m128 t2 = _mm_mul_ps(t, t);
  __m128 series = _mm_add_ps(_mm_set1_ps(0.2857143f), _mm_mul_ps(t2, _mm_set1_ps(0.2222222f)));
  series = _mm_add_ps(_mm_set1_ps(0.4f), _mm_mul_ps(t2, series));
  series = _mm_add_ps(_mm_set1_ps(0.6666667f), _mm_mul_ps(t2, series));
  series = _mm_add_ps(_mm_set1_ps(2.0f), _mm_mul_ps(t2, series));
  // ln(2) in two parts: e x the high part is exact.
  const __m128 low = _mm_add_ps(_mm_mul_ps(t, series), _mm_mul_ps(e, _mm_set1_ps(1.4286068e-06f)));
  return _mm_add_ps(_mm_mul_ps(e, _mm_set1_ps(0.693145751953125f)), low);
}

// e^x for x in [-87, 88] (callers clamp).
inline __m128 FastExp4(__m128 x) {
  // x = k ln(2) + r, k rounded to nearest by adding and taking away 1.5 x 2^23.
  const __m128 round = _mm_set1_ps(12582912.0f);
  const __m128 k = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(1.44269504f)), round), round);
  const __m128 r = _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(k, _mm_set1_ps(0.693145751953125f))),
                              _mm_mul_ps(k, _mm_set1_ps(1.4286068e-06f)));
  // e^r, |r| <= ln(2) / 2, by its series to r^6.
  __m128 p = _mm_add_ps(_mm_set1_ps(0.008333334f), _mm_mul_ps(r, _mm_set1_ps(0.0013888889f)));
  p = _mm_add_ps(_mm_set1_ps(0.041666668f), _mm_mul_ps(r, p));
  p = _mm_add_ps(_mm_set1_ps(0.16666667f), _mm_mul_ps(r, p));
  p = _mm_add_ps(_mm_set1_ps(0.5f), _mm_mul_ps(r, p));
  p = _mm_add_ps(_mm_set1_ps(1.0f), _mm_mul_ps(r, p));
  p = _mm_add_ps(_mm_set1_ps(1.0f), _mm_mul_ps(r, p));
  const __m128i n = _mm_add_epi32(_mm_cvttps_epi32(k), _mm_set1_epi32(127));
  return _mm_mul_ps(p, _mm_castsi128_ps(_mm_slli_epi32(n, 23)));
}

}  // namespace lumivane
