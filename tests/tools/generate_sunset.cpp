// Writes the synthetic sunset scene the tests use: a 320 x 200 Radiance image
// of a sunset over hills, in the per-component run-length form that Radiance
// writers use. Its dynamic range is real: a sky gradient around 1, a sun some
// thousands of times brighter, and hills in shadow a thousand times darker.
//
//   lumivane_sample_generator OUTPUT.hdr
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr double kHorizon = 132.0;
constexpr double kSunX = 212.0;
constexpr double kSunY = 104.0;
constexpr double kSunRadius = 4.5;

struct Colour {
  double R, G, B;
};

Colour Mix(const Colour& a, const Colour& b, double t) {
  return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

// The top of the hills above row kHorizon, in rows.
double HillTop(double x) {
  return kHorizon - (14.0 + 9.0 * std::sin(x * 0.031) + 5.0 * std::sin(x * 0.077 + 1.3));
}

Colour Radiance(int column, int row) {
  const double x = column + 0.5;
  const double y = row + 0.5;
  if (y >= HillTop(x)) {
    // Hills and ground in shadow, darker towards the foreground.
    const double depth = std::clamp((y - HillTop(x)) / (kHeight - HillTop(x)), 0.0, 1.0);
    const double level = 0.004 * (1.0 - depth) + 0.0004 * depth;
    return {level * 1.1, level * 0.9, level * 0.8};
  }
  const double t = std::pow(std::clamp(y / kHorizon, 0.0, 1.0), 1.6);
  Colour sky = Mix({0.04, 0.07, 0.22}, {1.6, 0.72, 0.26}, t);
  const double distance = std::hypot(x - kSunX, y - kSunY);
  if (distance <= kSunRadius) return {5000.0, 4000.0, 2600.0};
  const double glow = 60.0 * std::exp(-(distance - kSunRadius) / 6.0) +
                      3.0 * std::exp(-(distance - kSunRadius) / 55.0);
  sky.R += glow * 1.0;
  sky.G += glow * 0.62;
  sky.B += glow * 0.3;
  return sky;
}

std::array<std::uint8_t, 4> ToRgbe(const Colour& c) {
  const double largest = std::max({c.R, c.G, c.B});
  if (largest < 1e-32) return {0, 0, 0, 0};
  int exponent = 0;
  const double mantissa = std::frexp(largest, &exponent);
  const double scale = mantissa * 256.0 / largest;
  const auto byte = [&](double v) {
    return static_cast<std::uint8_t>(std::clamp(std::floor(v * scale), 0.0, 255.0));
  };
  return {byte(c.R), byte(c.G), byte(c.B), static_cast<std::uint8_t>(exponent + 128)};
}

// One component of a row: runs of three or more equal bytes as 128 + count
// and the byte; everything else as literals of up to 128 bytes.
void EncodeComponent(const std::vector<std::uint8_t>& values, std::vector<std::uint8_t>& out) {
  const auto runAt = [&](std::size_t i) {
    std::size_t run = 1;
    while (i + run < values.size() && run < 127 && values[i + run] == values[i]) ++run;
    return run;
  };
  std::size_t i = 0;
  while (i < values.size()) {
    const std::size_t run = runAt(i);
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(128 + run));
      out.push_back(values[i]);
      i += run;
      continue;
    }
    const std::size_t start = i;
    while (i < values.size() && i - start < 128 && runAt(i) < 3) ++i;
    out.push_back(static_cast<std::uint8_t>(i - start));
    out.insert(out.end(), values.begin() + static_cast<std::ptrdiff_t>(start),
               values.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.hdr\n", argv[0]);
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  const std::string header =
      "#?RADIANCE\n# LUMIVANE sample: sunset over hills\n"
      "FORMAT=32-bit_rle_rgbe\nEXPOSURE=1.0\n\n-Y " +
      std::to_string(kHeight) + " +X " + std::to_string(kWidth) + "\n";
  bytes.assign(header.begin(), header.end());
  std::array<std::vector<std::uint8_t>, 4> components;
  for (auto& component : components) component.resize(kWidth);
  for (int row = 0; row < kHeight; ++row) {
    for (int column = 0; column < kWidth; ++column) {
      const auto rgbe = ToRgbe(Radiance(column, row));
      for (std::size_t k = 0; k < 4; ++k) components[k][static_cast<std::size_t>(column)] = rgbe[k];
    }
    bytes.insert(bytes.end(), {2, 2, static_cast<std::uint8_t>(kWidth >> 8),
                               static_cast<std::uint8_t>(kWidth & 0xFF)});
    for (const auto& component : components) EncodeComponent(component, bytes);
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
