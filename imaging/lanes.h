// Four floats side by side (SSE2), with the few operations the operators'
// pixel loops use, and the same operations on one float. A loop body written
// once as a template over either gives the same bits in a lane as alone: the
// operations are the same IEEE single-precision ones, no library call, no
// fused multiply-add. Machines without SSE2 take every value one at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The loops are written over these helpers; inlining them all is what makes
// the loops as fast as ones written with the intrinsics directly.
#define LUMIVANE_LANE inline __attribute__((always_inline))

namespace lumivane::lanes {

// One float, and 32-bit integers that wrap, as SSE2's do.
using Bits1 = std::uint32_t;
LUMIVANE_LANE Bits1 BitsOf(float v) {
  return std::bit_cast<Bits1>(v);
}
LUMIVANE_LANE float FloatOf(Bits1 v) {
  return std::bit_cast<float>(v);
}
// The bits as a signed whole number, to float.
LUMIVANE_LANE float ToFloat(Bits1 v) {
  return static_cast<float>(static_cast<std::int32_t>(v));
}
// Toward zero; |v| below 2^31.
LUMIVANE_LANE Bits1 Truncate(float v) {
  return static_cast<Bits1>(static_cast<std::int32_t>(v));
}
LUMIVANE_LANE Bits1 ShiftLeft23(Bits1 v) {
  return v << 23;
}
LUMIVANE_LANE Bits1 ShiftRight23(Bits1 v) {
  return v >> 23;
}
LUMIVANE_LANE float Select(bool condition, float yes, float no) {
  return condition ? yes : no;
}
LUMIVANE_LANE bool Both(bool a, bool b) {
  return a && b;
}
// All ones where `condition` holds.
LUMIVANE_LANE Bits1 MaskBits(bool condition) {
  return condition ? ~Bits1{0} : Bits1{0};
}

#if defined(__SSE2__)

inline constexpr std::size_t kWidth = 4;

struct Float4 {
  __m128 v;
  Float4() = default;
  explicit Float4(__m128 value) : v(value) {}
  Float4(float value) : v(_mm_set1_ps(value)) {}  // NOLINT: constants broadcast
};
struct Bits4 {
  __m128i v;
  Bits4() = default;
  explicit Bits4(__m128i value) : v(value) {}
  Bits4(std::uint32_t value) : v(_mm_set1_epi32(static_cast<int>(value))) {}  // NOLINT
};
struct Mask4 {
  __m128 v;
};

LUMIVANE_LANE Float4 operator+(Float4 a, Float4 b) {
  return Float4(_mm_add_ps(a.v, b.v));
}
LUMIVANE_LANE Float4 operator-(Float4 a, Float4 b) {
  return Float4(_mm_sub_ps(a.v, b.v));
}
LUMIVANE_LANE Float4 operator*(Float4 a, Float4 b) {
  return Float4(_mm_mul_ps(a.v, b.v));
}
LUMIVANE_LANE Float4 operator/(Float4 a, Float4 b) {
  return Float4(_mm_div_ps(a.v, b.v));
}
LUMIVANE_LANE Mask4 operator<(Float4 a, Float4 b) {
  return {_mm_cmplt_ps(a.v, b.v)};
}
LUMIVANE_LANE Mask4 operator>(Float4 a, Float4 b) {
  return {_mm_cmpgt_ps(a.v, b.v)};
}
LUMIVANE_LANE Mask4 operator>=(Float4 a, Float4 b) {
  return {_mm_cmpge_ps(a.v, b.v)};
}
LUMIVANE_LANE Mask4 Both(Mask4 a, Mask4 b) {
  return {_mm_and_ps(a.v, b.v)};
}
LUMIVANE_LANE Float4 Select(Mask4 condition, Float4 yes, Float4 no) {
  return Float4(_mm_or_ps(_mm_and_ps(condition.v, yes.v), _mm_andnot_ps(condition.v, no.v)));
}

LUMIVANE_LANE Bits4 operator+(Bits4 a, Bits4 b) {
  return Bits4(_mm_add_epi32(a.v, b.v));
}
LUMIVANE_LANE Bits4 operator-(Bits4 a, Bits4 b) {
  return Bits4(_mm_sub_epi32(a.v, b.v));
}
LUMIVANE_LANE Bits4 operator&(Bits4 a, Bits4 b) {
  return Bits4(_mm_and_si128(a.v, b.v));
}
LUMIVANE_LANE Bits4 BitsOf(Float4 a) {
  return Bits4(_mm_castps_si128(a.v));
}
LUMIVANE_LANE Float4 FloatOf(Bits4 a) {
  return Float4(_mm_castsi128_ps(a.v));
}
LUMIVANE_LANE Float4 ToFloat(Bits4 a) {
  return Float4(_mm_cvtepi32_ps(a.v));
}
LUMIVANE_LANE Bits4 Truncate(Float4 a) {
  return Bits4(_mm_cvttps_epi32(a.v));
}
LUMIVANE_LANE Bits4 ShiftLeft23(Bits4 a) {
  return Bits4(_mm_slli_epi32(a.v, 23));
}
LUMIVANE_LANE Bits4 ShiftRight23(Bits4 a) {
  return Bits4(_mm_srli_epi32(a.v, 23));
}
LUMIVANE_LANE Bits4 MaskBits(Mask4 condition) {
  return Bits4(_mm_castps_si128(condition.v));
}

#else

inline constexpr std::size_t kWidth = 1;

#endif

template <typename F>
F Load(const float* p);
template <>
LUMIVANE_LANE float Load<float>(const float* p) {
  return *p;
}
LUMIVANE_LANE void Store(float* p, float a) {
  *p = a;
}
#if defined(__SSE2__)
template <>
LUMIVANE_LANE Float4 Load<Float4>(const float* p) {
  return Float4(_mm_loadu_ps(p));
}
LUMIVANE_LANE void Store(float* p, Float4 a) {
  _mm_storeu_ps(p, a.v);
}
#endif

// body(i, F{}) for the lanes from i on, i < count: F is Float4 (four lanes)
// where the machine has them and they fit, float for the rest. `body` is a
// generic lambda that loads and stores with Load<F> and Store.
template <typename Body>
void ForLanes(std::size_t count, const Body& body) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= count; i += 4) body(i, Float4{});
#endif
  for (; i < count; ++i) body(i, float{});
}

// out[i] = curve(in[i]) for i < count; `curve` takes and gives a float or a Float4.
template <typename Curve>
void MapLanes(const float* in, std::size_t count, float* out, const Curve& curve) {
  ForLanes(count, [&](std::size_t i, auto lane) {
    using F = decltype(lane);
    Store(out + i, curve(Load<F>(in + i)));
  });
}

}  // namespace lumivane::lanes
