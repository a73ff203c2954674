#include "tests/support/hdrfiles.h"

#include <algorithm>
#include <array>

namespace lumivane::testing {

std::string HdrHeaderText(const std::vector<std::string>& lines, std::uint32_t width,
                          std::uint32_t height) {
  std::string text = "#?RADIANCE\n";
  for (const auto& line : lines) text += line + "\n";
  text += "\n-Y " + std::to_string(height) + " +X " + std::to_string(width) + "\n";
  return text;
}

std::string StandardHdrHeader(std::uint32_t width, std::uint32_t height) {
  return HdrHeaderText({"FORMAT=32-bit_rle_rgbe", "EXPOSURE=1.0"}, width, height);
}

std::vector<std::uint8_t> EncodeFlatRow(const RgbePixel* row, std::uint32_t width) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(std::size_t{width} * 4);
  for (std::uint32_t x = 0; x < width; ++x) {
    bytes.insert(bytes.end(), {row[x].R, row[x].G, row[x].B, row[x].E});
  }
  return bytes;
}

namespace {

void EncodeComponent(const std::vector<std::uint8_t>& values, std::vector<std::uint8_t>& out) {
  const std::size_t width = values.size();
  const auto runAt = [&](std::size_t i) {
    std::size_t n = 1;
    while (i + n < width && n < 127 && values[i + n] == values[i]) ++n;
    return n;
  };
  std::size_t i = 0;
  while (i < width) {
    const std::size_t run = runAt(i);
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(128 + run));
      out.push_back(values[i]);
      i += run;
      continue;
    }
    std::size_t end = i;
    while (end < width && end - i < 128 && (end == i || runAt(end) < 3)) ++end;
    out.push_back(static_cast<std::uint8_t>(end - i));
    out.insert(out.end(), values.begin() + static_cast<std::ptrdiff_t>(i),
               values.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
}

// Consecutive markers 1, 1, 1, n carry the count 8 bits at a time, lowest first.
void AppendOldRun(std::uint64_t count, std::vector<std::uint8_t>& out) {
  do {
    out.insert(out.end(), {1, 1, 1, static_cast<std::uint8_t>(count & 0xFF)});
    count >>= 8;
  } while (count != 0);
}

}  // namespace

std::vector<std::uint8_t> EncodeComponentRunRow(const RgbePixel* row, std::uint32_t width) {
  std::vector<std::uint8_t> bytes = {2, 2, static_cast<std::uint8_t>((width >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(width & 0xFF)};
  std::array<std::vector<std::uint8_t>, 4> components;
  for (std::uint32_t x = 0; x < width; ++x) {
    components[0].push_back(row[x].R);
    components[1].push_back(row[x].G);
    components[2].push_back(row[x].B);
    components[3].push_back(row[x].E);
  }
  for (const auto& component : components) EncodeComponent(component, bytes);
  return bytes;
}

std::vector<std::uint8_t> EncodeOldRunRow(const RgbePixel* row, std::uint32_t width,
                                          const RgbePixel& previous) {
  std::vector<std::uint8_t> bytes;
  // The row head is a run marker (of 0 when the row starts with a new colour).
  std::uint32_t x = 0;
  while (x < width && row[x] == previous) ++x;
  AppendOldRun(x, bytes);
  while (x < width) {
    const RgbePixel& literal = row[x];
    bytes.insert(bytes.end(), {literal.R, literal.G, literal.B, literal.E});
    std::uint32_t end = x + 1;
    while (end < width && row[end] == literal) ++end;
    if (end - x >= 3) {
      AppendOldRun(end - x - 1, bytes);
    } else {
      end = x + 1;
    }
    x = end;
  }
  return bytes;
}

std::vector<std::uint8_t> EncodeRgbeRows(const RgbePixels& image, RgbeRowForm form) {
  std::vector<std::uint8_t> data;
  RgbePixel previous;
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    const RgbePixel* row = image.Pixels.data() + std::size_t{y} * image.Width;
    std::vector<std::uint8_t> bytes;
    switch (form) {
      case RgbeRowForm::Flat:
        bytes = EncodeFlatRow(row, image.Width);
        break;
      case RgbeRowForm::ComponentRuns:
        bytes = EncodeComponentRunRow(row, image.Width);
        break;
      case RgbeRowForm::OldRuns:
        bytes = EncodeOldRunRow(row, image.Width, previous);
        break;
    }
    data.insert(data.end(), bytes.begin(), bytes.end());
    if (image.Width > 0) previous = row[image.Width - 1];
  }
  return data;
}

std::vector<std::uint8_t> HdrFile(const std::string& header,
                                  const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

std::vector<std::uint8_t> HdrFile(const RgbePixels& image, RgbeRowForm form) {
  return HdrFile(StandardHdrHeader(image.Width, image.Height), EncodeRgbeRows(image, form));
}

RgbePixels PatternImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  RgbePixels image;
  image.Width = width;
  image.Height = height;
  image.Pixels.resize(std::size_t{width} * height);
  std::uint32_t state = seed * 2654435761u + 12345u;
  const auto next = [&state](std::uint32_t range) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % range;
  };
  // Mantissas from 3 up: no pixel looks like a row head.
  const auto mantissa = [&] { return static_cast<std::uint8_t>(3 + next(253)); };
  RgbePixel previous;
  for (std::uint32_t y = 0; y < height; ++y) {
    RgbePixel* row = image.Pixels.data() + std::size_t{y} * width;
    RgbePixel colour = previous;
    std::uint32_t x = 0;
    std::uint32_t stretch = 1 + next(4);
    while (x < width) {
      for (; stretch > 0 && x < width; --stretch) row[x++] = colour;
      // Keep some components while changing others, so that per-component runs
      // and whole-pixel runs fall in different places.
      switch (next(4)) {
        case 0:
          colour = {mantissa(), mantissa(), mantissa(), static_cast<std::uint8_t>(110 + next(40))};
          break;
        case 1:
          colour.R = mantissa();
          break;
        case 2:
          colour.E = static_cast<std::uint8_t>(110 + next(40));
          break;
        default:
          colour.G = mantissa();
          colour.B = mantissa();
          break;
      }
      stretch = next(3) == 0 ? 1 + next(300) : 1 + next(3);
    }
    if (width > 0) previous = row[width - 1];
  }
  return image;
}

RgbePlanes PlanesOf(const RgbePixels& image) {
  RgbePlanes planes;
  for (const auto& pixel : image.Pixels) {
    planes.R.push_back(pixel.R);
    planes.G.push_back(pixel.G);
    planes.B.push_back(pixel.B);
    planes.E.push_back(pixel.E);
  }
  return planes;
}

}  // namespace lumivane::testing
