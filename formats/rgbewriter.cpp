#include "formats/rgbewriter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "io/binaryfile.h"

namespace lumivane {

namespace {

constexpr std::uint32_t kMinRunWidth = 8;
constexpr std::uint32_t kMaxRunWidth = 32767;
constexpr std::size_t kMinRun = 3;
constexpr std::size_t kMaxRun = 127;
constexpr std::size_t kMaxLiteral = 128;

// A decoded value is (2M + 1) x 2^(E - 137): an odd number of 1 to 511 times a
// power of two. Gives M and E when `value` has that form, E = -1 otherwise.
std::pair<int, int> ExactParts(float value) {
  if (!(value > 0) || !std::isfinite(value)) return {0, -1};
  int exponent = 0;
  // frexp is exact: value = fraction x 2^exponent, fraction in [0.5, 1).
  const double fraction = std::frexp(static_cast<double>(value), &exponent);
  // 24 bits hold every float's significand, subnormals included.
  auto odd = static_cast<std::uint32_t>(std::ldexp(fraction, 24));
  int shift = exponent - 24;
  const int zeros = std::countr_zero(odd);
  odd >>= zeros;
  shift += zeros;
  const int e = shift + 137;
  if (odd > 511 || e < 0 || e > 255) return {0, -1};
  return {static_cast<int>((odd - 1) / 2), e};
}

std::array<std::uint8_t, 4> RoundedRgbe(float r, float g, float b) {
  const auto clean = [](float v) { return v > 0 && !std::isnan(v) ? v : 0.0f; };
  r = clean(r), g = clean(g), b = clean(b);
  const float largest = std::max({r, g, b});
  if (largest < 1e-32f) return {0, 0, 0, 0};
  // frexp gives no exponent for an infinity: the largest pixel stands for it.
  if (std::isinf(largest)) return {255, 255, 255, 255};
  int exponent = 0;
  const float fraction = std::frexp(largest, &exponent);
  if (exponent > 127) return {255, 255, 255, 255};
  const float scale = fraction * 256.0f / largest;
  const auto mantissa = [scale](float v) {
    return static_cast<std::uint8_t>(std::min(255.0f, v * scale));
  };
  return {mantissa(r), mantissa(g), mantissa(b), static_cast<std::uint8_t>(exponent + 128)};
}

// Runs of three or more equal bytes as (128 + count, byte), the rest as
// literals (count, bytes), for one component of a row.
void EncodeComponent(const std::uint8_t* pixels, std::uint32_t width, int component,
                     std::vector<std::uint8_t>& out) {
  const auto at = [&](std::size_t x) { return pixels[4 * x + component]; };
  std::size_t x = 0;
  while (x < width) {
    // Find the next run of at least kMinRun, collecting a literal before it.
    std::size_t literalEnd = x;
    std::size_t run = 0;
    while (literalEnd < width) {
      run = 1;
      while (literalEnd + run < width && run < kMaxRun && at(literalEnd + run) == at(literalEnd))
        ++run;
      if (run >= kMinRun) break;
      literalEnd += run;
      run = 0;
    }
    while (x < literalEnd) {
      const std::size_t count = std::min(kMaxLiteral, literalEnd - x);
      out.push_back(static_cast<std::uint8_t>(count));
      for (std::size_t i = 0; i < count; ++i) out.push_back(at(x + i));
      x += count;
    }
    if (run >= kMinRun) {
      out.push_back(static_cast<std::uint8_t>(128 + run));
      out.push_back(at(x));
      x += run;
    }
  }
}

class RadianceSink final : public FloatRowSink {
 public:
  RadianceSink(BinaryFile& file, std::uint32_t width) : file_(file), width_(width) {}

  bool WriteRows(const float* source, std::uint32_t rowCount, std::string& error) override {
    pixels_.resize(std::size_t{width_} * 4);
    encoded_.clear();
    for (std::uint32_t y = 0; y < rowCount; ++y) {
      const float* row = source + std::size_t{width_} * 3 * y;
      for (std::uint32_t x = 0; x < width_; ++x) {
        const auto rgbe = FloatToRgbe(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        std::copy(rgbe.begin(), rgbe.end(), pixels_.begin() + 4 * std::size_t{x});
      }
      EncodeRgbeRow(pixels_.data(), width_, encoded_);
    }
    if (file_.Write(encoded_.data(), encoded_.size())) return true;
    error = file_.ErrorText();
    return false;
  }

  bool Finish(std::string&) override { return true; }

 private:
  BinaryFile& file_;
  std::uint32_t width_;
  std::vector<std::uint8_t> pixels_;
  std::vector<std::uint8_t> encoded_;
};

}  // namespace

std::array<std::uint8_t, 4> FloatToRgbe(float r, float g, float b) {
  const auto [mr, er] = ExactParts(r);
  const auto [mg, eg] = ExactParts(g);
  const auto [mb, eb] = ExactParts(b);
  if (er >= 0 && er == eg && eg == eb)
    return {static_cast<std::uint8_t>(mr), static_cast<std::uint8_t>(mg),
            static_cast<std::uint8_t>(mb), static_cast<std::uint8_t>(er)};
  return RoundedRgbe(r, g, b);
}

void EncodeRgbeRow(const std::uint8_t* pixels, std::uint32_t width,
                   std::vector<std::uint8_t>& out) {
  if (width < kMinRunWidth || width > kMaxRunWidth) {
    out.insert(out.end(), pixels, pixels + std::size_t{width} * 4);
    return;
  }
  out.insert(out.end(), {2, 2, static_cast<std::uint8_t>(width >> 8),
                         static_cast<std::uint8_t>(width & 0xFF)});
  for (int component = 0; component < 4; ++component)
    EncodeComponent(pixels, width, component, out);
}

std::string RadianceHeaderText(std::uint32_t width, std::uint32_t height,
                               const std::optional<Chromaticities>& primaries) {
  std::string text = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n";
  if (primaries) {
    char line[160];
    const Chromaticities& c = *primaries;
    std::snprintf(line, sizeof line, "PRIMARIES= %.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g\n",
                  c.Red[0], c.Red[1], c.Green[0], c.Green[1], c.Blue[0], c.Blue[1], c.White[0],
                  c.White[1]);
    text += line;
  }
  return text + "\n-Y " + std::to_string(height) + " +X " + std::to_string(width) + "\n";
}

std::unique_ptr<FloatRowSink> OpenRadianceSink(BinaryFile& file, std::uint32_t width,
                                               std::uint32_t height,
                                               const std::optional<Chromaticities>& primaries,
                                               std::string& error) {
  if (width == 0 || height == 0) {
    error = "the image is empty";
    return nullptr;
  }
  const std::string header = RadianceHeaderText(width, height, primaries);
  if (!file.Write(header.data(), header.size())) {
    error = file.ErrorText();
    return nullptr;
  }
  return std::make_unique<RadianceSink>(file, width);
}

}  // namespace lumivane
