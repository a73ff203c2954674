#include "tests/support/hostilefiles.h"

#include <algorithm>
#include <stdexcept>

namespace lumivane::testing {

namespace {

constexpr std::uint32_t kZeros = 100;

// A zlib stream of one stored block of zeros, with its Adler-32 checksum.
Bytes DeflatedZeros() {
  Bytes out = {0x78, 0x01, 0x01, kZeros & 0xFF, kZeros >> 8, ~kZeros & 0xFF, (~kZeros >> 8) & 0xFF};
  out.resize(out.size() + kZeros, 0);
  const std::uint32_t adler = (kZeros << 16) | 1;
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(adler >> shift));
  return out;
}

// TIFF's LZW: 9-bit codes, most significant bit first; a clear code, each
// zero as a literal, the end code. The table never grows past 9 bits.
Bytes LzwZeros() {
  Bytes out;
  std::uint32_t buffer = 0;
  int bits = 0;
  const auto put = [&](std::uint32_t code) {
    buffer = buffer << 9 | code;
    bits += 9;
    while (bits >= 8) {
      out.push_back(static_cast<std::uint8_t>(buffer >> (bits - 8)));
      bits -= 8;
    }
  };
  put(256);
  for (std::uint32_t i = 0; i < kZeros; ++i) put(0);
  put(257);
  if (bits > 0) out.push_back(static_cast<std::uint8_t>(buffer << (8 - bits)));
  return out;
}

// Width, height, three 32-bit float samples: the entries before 273.
void FloatRgbEntries(TiffBuilder& tiff, std::uint32_t width, std::uint32_t height,
                     std::uint16_t compression) {
  tiff.Entry(256, 4, 1, tiff.Long(width));
  tiff.Entry(257, 4, 1, tiff.Long(height));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(259, 3, 1, tiff.Short(compression));
  tiff.Entry(262, 3, 1, tiff.Short(2));
}

Bytes OneStripFloatTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression,
                        const Bytes& data) {
  TiffBuilder tiff(true);
  const std::uint32_t offset = tiff.Append(data);
  FloatRgbEntries(tiff, width, height, compression);
  tiff.Entry(273, 4, 1, tiff.Long(offset));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Entry(278, 4, 1, tiff.Long(height));
  tiff.Entry(279, 4, 1, tiff.Long(static_cast<std::uint32_t>(data.size())));
  tiff.Entry(284, 3, 1, tiff.Short(1));
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  return tiff.Build();
}

}  // namespace

Bytes CompressedStripTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression) {
  return OneStripFloatTiff(width, height, compression,
                           compression == 5 ? LzwZeros() : DeflatedZeros());
}

Bytes HugeStripTiff(std::uint32_t width, std::uint32_t height) {
  TiffBuilder tiff(true);
  const std::uint32_t offset = tiff.Append(Bytes(48, 0x3F));
  tiff.Entry(256, 4, 1, tiff.Long(width));
  tiff.Entry(257, 4, 1, tiff.Long(height));
  tiff.Data(258, 3, 3, tiff.Shorts({16, 16, 16}));
  tiff.Entry(259, 3, 1, tiff.Short(1));
  tiff.Entry(262, 3, 1, tiff.Short(2));
  tiff.Entry(273, 4, 1, tiff.Long(offset));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Entry(278, 4, 1, tiff.Long(height));
  tiff.Entry(279, 4, 1, tiff.Long(48));
  return tiff.Build();
}

Bytes ManySamplesTiff(std::uint32_t width, std::uint32_t height, std::uint16_t samples) {
  TiffBuilder tiff(true);
  const std::uint32_t offset = tiff.Append(Bytes(48, 0x3F));
  tiff.Entry(256, 4, 1, tiff.Long(width));
  tiff.Entry(257, 4, 1, tiff.Long(height));
  tiff.Entry(258, 3, 1, tiff.Short(8));
  tiff.Entry(259, 3, 1, tiff.Short(1));
  tiff.Entry(262, 3, 1, tiff.Short(1));
  tiff.Entry(273, 4, 1, tiff.Long(offset));
  tiff.Entry(277, 3, 1, tiff.Short(samples));
  tiff.Entry(278, 4, 1, tiff.Long(height));
  tiff.Entry(279, 4, 1, tiff.Long(48));
  return tiff.Build();
}

Bytes BigTileTiff(std::uint32_t width, std::uint32_t height, std::uint32_t tile) {
  TiffBuilder tiff(true);
  const std::uint32_t tiles = ((width - 1) / tile + 1) * ((height - 1) / tile + 1);
  const std::uint32_t data = tiff.Append(Bytes(48, 0x3F));
  FloatRgbEntries(tiff, width, height, 1);
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Entry(284, 3, 1, tiff.Short(1));
  tiff.Entry(322, 4, 1, tiff.Long(tile));
  tiff.Entry(323, 4, 1, tiff.Long(tile));
  tiff.Data(324, 4, tiles, tiff.Longs(std::vector<std::uint32_t>(tiles, data)));
  tiff.Data(325, 4, tiles, tiff.Longs(std::vector<std::uint32_t>(tiles, tile * tile * 12)));
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  return tiff.Build();
}

Bytes ResizedExrWindow(const Bytes& exr, std::uint32_t width, std::uint32_t height) {
  const std::string name("dataWindow\0box2i\0", 17);
  Bytes out = exr;
  const auto at = std::search(out.begin(), out.end(), name.begin(), name.end());
  if (at == out.end()) throw std::invalid_argument("no data window");
  // The box follows the attribute's name, type and 4-byte size: xMin, yMin, xMax, yMax.
  auto value = at + static_cast<long>(name.size()) + 4;
  for (const std::uint32_t v : {0u, 0u, width - 1, height - 1})
    for (int b = 0; b < 4; ++b) *value++ = static_cast<std::uint8_t>(v >> (8 * b));
  return out;
}

}  // namespace lumivane::testing
