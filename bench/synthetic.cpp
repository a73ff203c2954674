#include "bench/synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace lumivane::bench {

namespace {

std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

void ToRgbe(double r, double g, double b, std::uint8_t* pixel) {
  const double top = std::max({r, g, b});
  if (top < 1e-32) {
    pixel[0] = pixel[1] = pixel[2] = pixel[3] = 0;
    return;
  }
  int exponent;
  const double scale = std::frexp(top, &exponent) * 256.0 / top;
  pixel[0] = static_cast<std::uint8_t>(std::min(255.0, r * scale));
  pixel[1] = static_cast<std::uint8_t>(std::min(255.0, g * scale));
  pixel[2] = static_cast<std::uint8_t>(std::min(255.0, b * scale));
  pixel[3] = static_cast<std::uint8_t>(exponent + 128);
}

// One component of a row in Radiance's run-length form: runs of 4 or more
// equal bytes as runs, the rest as literals of at most 128.
void EncodeComponent(const std::uint8_t* bytes, std::uint32_t width,
                     std::vector<std::uint8_t>& out) {
  std::uint32_t x = 0;
  while (x < width) {
    std::uint32_t runStart = x, runLength = 0;
    while (runStart < width) {
      runLength = 1;
      while (runStart + runLength < width && runLength < 127 &&
             bytes[runStart + runLength] == bytes[runStart]) {
        ++runLength;
      }
      if (runLength >= 4) break;
      runStart += runLength;
    }
    if (runStart >= width) runLength = 0;
    while (x < runStart) {
      const std::uint32_t count = std::min<std::uint32_t>(128, runStart - x);
      out.push_back(static_cast<std::uint8_t>(count));
      out.insert(out.end(), bytes + x, bytes + x + count);
      x += count;
    }
    if (runLength >= 4) {
      out.push_back(static_cast<std::uint8_t>(128 + runLength));
      out.push_back(bytes[runStart]);
      x += runLength;
    }
  }
}

}  // namespace

void SyntheticRgbeRow(std::uint32_t width, std::uint32_t height, std::uint32_t row,
                      std::uint8_t* pixels) {
  const double y = (row + 0.5) / height;
  const double horizon = 0.62;
  const double sunX = 0.66, sunY = 0.55, sunRadius = 0.02;
  for (std::uint32_t column = 0; column < width; ++column) {
    const double x = (column + 0.5) / width;
    double r, g, b;
    const double hill = horizon - 0.05 - 0.03 * std::sin(x * 19.0);
    if (y >= hill) {
      // Ground in shadow, textured.
      const double noise = (Hash(row * 65599u + column) & 0xFF) / 255.0;
      const double level = 0.003 * (1.0 - (y - hill)) * (0.6 + 0.8 * noise);
      r = level * 1.1;
      g = level * 0.9;
      b = level * 0.8;
    } else {
      const double t = std::pow(y / hill, 1.6);
      r = 0.04 + 1.56 * t;
      g = 0.07 + 0.65 * t;
      b = 0.22 + 0.04 * t;
      const double aspect = static_cast<double>(width) / height;
      const double distance = std::hypot((x - sunX) * aspect, y - sunY);
      if (distance <= sunRadius) {
        r = 9000.0;
        g = 7200.0;
        b = 4600.0;
      } else {
        const double glow = 60.0 * std::exp(-(distance - sunRadius) * 60.0);
        r += glow;
        g += glow * 0.8;
        b += glow * 0.5;
      }
    }
    ToRgbe(r, g, b, pixels + 4 * column);
  }
}

void EncodeRgbeRow(const std::uint8_t* pixels, std::uint32_t width, RowForm form,
                   std::vector<std::uint8_t>& out) {
  switch (form) {
    case RowForm::Flat:
      out.insert(out.end(), pixels, pixels + 4 * static_cast<std::size_t>(width));
      // A pixel 1, 1, 1 would read as a run marker; nudge it.
      if (pixels[0] == 1 && pixels[1] == 1 && pixels[2] == 1) out[out.size() - 4 * width] = 2;
      if (pixels[0] == 2 && pixels[1] == 2) out[out.size() - 4 * width] = 3;
      break;
    case RowForm::ComponentRuns: {
      out.push_back(2);
      out.push_back(2);
      out.push_back(static_cast<std::uint8_t>(width >> 8));
      out.push_back(static_cast<std::uint8_t>(width));
      std::vector<std::uint8_t> component(width);
      for (int c = 0; c < 4; ++c) {
        for (std::uint32_t x = 0; x < width; ++x) component[x] = pixels[4 * x + c];
        EncodeComponent(component.data(), width, out);
      }
      break;
    }
    case RowForm::OldRuns: {
      // Head 1, 1, 1, n, then the first pixel and flat pixels with old-style
      // run markers (1, 1, 1, count) for repeats.
      out.insert(out.end(), {1, 1, 1, 0});
      std::uint32_t x = 0;
      while (x < width) {
        out.insert(out.end(), pixels + 4 * x, pixels + 4 * x + 4);
        std::uint32_t repeat = 0;
        while (x + 1 + repeat < width && repeat < 255 &&
               std::equal(pixels + 4 * x, pixels + 4 * x + 4, pixels + 4 * (x + 1 + repeat))) {
          ++repeat;
        }
        if (repeat > 0) out.insert(out.end(), {1, 1, 1, static_cast<std::uint8_t>(repeat)});
        x += 1 + repeat;
      }
      break;
    }
  }
}

bool WriteSyntheticHdr(const std::string& path, std::uint32_t width, std::uint32_t height) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                       &std::fclose);
  if (!file) return false;
  const std::string header =
      "#?RADIANCE\n# synthetic benchmark scene\nFORMAT=32-bit_rle_rgbe\n\n-Y " +
      std::to_string(height) + " +X " + std::to_string(width) + "\n";
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) return false;
  std::vector<std::uint8_t> pixels(4 * static_cast<std::size_t>(width));
  std::vector<std::uint8_t> encoded;
  for (std::uint32_t row = 0; row < height; ++row) {
    SyntheticRgbeRow(width, height, row, pixels.data());
    encoded.clear();
    EncodeRgbeRow(pixels.data(), width, RowForm::ComponentRuns, encoded);
    if (std::fwrite(encoded.data(), 1, encoded.size(), file.get()) != encoded.size()) {
      return false;
    }
  }
  return std::fflush(file.get()) == 0;
}

}  // namespace lumivane::bench
