#include "tests/support/libraryfiles.h"

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfTiledOutputFile.h>
#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace lumivane::testing {

namespace {

// The value a sample of this kind holds for v, as a reader gives it back.
float Stored(float v, const LibraryTiffOptions& options) {
  if (options.Float) return options.Bits == 16 ? static_cast<float>(Imath::half(v)) : v;
  const float top = options.Bits == 8 ? 255.0f : 65535.0f;
  return std::nearbyint(std::clamp(v, 0.0f, 1.0f) * top) / top;
}

void PutSample(std::uint8_t* at, float v, const LibraryTiffOptions& options) {
  if (options.Float && options.Bits == 32) {
    std::memcpy(at, &v, 4);
  } else if (options.Float) {
    const std::uint16_t bits = Imath::half(v).bits();
    std::memcpy(at, &bits, 2);
  } else if (options.Bits == 8) {
    *at = static_cast<std::uint8_t>(std::nearbyint(std::clamp(v, 0.0f, 1.0f) * 255.0f));
  } else {
    const auto value =
        static_cast<std::uint16_t>(std::nearbyint(std::clamp(v, 0.0f, 1.0f) * 65535.0f));
    std::memcpy(at, &value, 2);
  }
}

}  // namespace

FloatImage WriteLibraryTiff(const std::string& path, const FloatImage& image,
                            const LibraryTiffOptions& options) {
  const std::uint16_t colours = options.Grey ? 1 : 3;
  const std::uint16_t samples = colours + (options.Alpha ? 1 : 0);
  const std::size_t sampleBytes = options.Bits / 8;
  const std::uint32_t w = image.Width, h = image.Height;
  FloatImage expected{w, h, std::vector<float>(image.Values.size())};
  // Per plane (one plane holding every sample when contiguous), rows top first.
  const std::uint16_t planes = options.Planar ? samples : 1;
  const std::uint16_t inPlane = options.Planar ? 1 : samples;
  std::vector<std::vector<std::uint8_t>> plane(
      planes, std::vector<std::uint8_t>(std::size_t{w} * h * inPlane * sampleBytes));
  for (std::size_t p = 0; p < std::size_t{w} * h; ++p) {
    for (std::uint16_t s = 0; s < samples; ++s) {
      const float v = s < colours ? image.Values[3 * p + s] : 0.5f;
      const std::uint16_t target = options.Planar ? s : 0;
      const std::size_t index = options.Planar ? p : p * samples + s;
      PutSample(plane[target].data() + index * sampleBytes, v, options);
    }
    for (int c = 0; c < 3; ++c)
      expected.Values[3 * p + c] = Stored(image.Values[3 * p + (options.Grey ? 0 : c)], options);
  }

  TIFF* tiff = TIFFOpen(path.c_str(), options.BigEndian ? "wb" : "wl");
  if (!tiff) throw std::runtime_error("cannot create " + path);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, options.Bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, options.Float ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, options.Grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
               options.Planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, options.Compression);
  if (options.Alpha) {
    const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  const std::size_t planeRow = std::size_t{w} * inPlane * sampleBytes;
  if (options.Tile == 0) {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, options.RowsPerStrip);
    const std::uint32_t strips = (h + options.RowsPerStrip - 1) / options.RowsPerStrip;
    for (std::uint16_t p = 0; p < planes; ++p) {
      for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint32_t rows = std::min(options.RowsPerStrip, h - s * options.RowsPerStrip);
        TIFFWriteEncodedStrip(tiff, p * strips + s,
                              plane[p].data() + std::size_t{s} * options.RowsPerStrip * planeRow,
                              static_cast<tmsize_t>(rows * planeRow));
      }
    }
  } else {
    const std::uint32_t t = options.Tile;
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, t);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, t);
    const std::size_t tileRow = std::size_t{t} * inPlane * sampleBytes;
    std::vector<std::uint8_t> tile(tileRow * t);
    for (std::uint16_t p = 0; p < planes; ++p) {
      for (std::uint32_t y = 0; y < h; y += t) {
        for (std::uint32_t x = 0; x < w; x += t) {
          std::fill(tile.begin(), tile.end(), 0);
          for (std::uint32_t r = 0; r < t && y + r < h; ++r)
            std::memcpy(
                tile.data() + r * tileRow,
                plane[p].data() + (y + r) * planeRow + std::size_t{x} * inPlane * sampleBytes,
                std::min<std::size_t>(t, w - x) * inPlane * sampleBytes);
          TIFFWriteEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, p), tile.data(),
                               static_cast<tmsize_t>(tile.size()));
        }
      }
    }
  }
  TIFFClose(tiff);
  return expected;
}

FloatImage WriteExr(const std::string& path, const FloatImage& image, const ExrOptions& options) {
  const int w = static_cast<int>(image.Width), h = static_cast<int>(image.Height);
  const Imath::Box2i window(Imath::V2i(options.OriginX, options.OriginY),
                            Imath::V2i(options.OriginX + w - 1, options.OriginY + h - 1));
  Imf::Header header(window, window);
  header.compression() = static_cast<Imf::Compression>(options.Compression);
  if (options.Decreasing) header.lineOrder() = Imf::DECREASING_Y;
  const Imf::PixelType type = options.Half ? Imf::HALF : Imf::FLOAT;
  std::vector<std::string> names =
      options.Grey ? std::vector<std::string>{"Y"} : std::vector<std::string>{"R", "G", "B"};
  if (options.Alpha) names.push_back("A");
  for (const auto& name : names) header.channels().insert(name, Imf::Channel(type));
  if (options.Attributes) options.Attributes(header);

  FloatImage expected{image.Width, image.Height, std::vector<float>(image.Values.size())};
  const std::size_t pixels = std::size_t{image.Width} * image.Height;
  std::vector<std::vector<float>> floats(names.size(), std::vector<float>(pixels));
  std::vector<std::vector<Imath::half>> halves(names.size(), std::vector<Imath::half>(pixels));
  Imf::FrameBuffer frame;
  for (std::size_t c = 0; c < names.size(); ++c) {
    for (std::size_t p = 0; p < pixels; ++p) {
      const bool colour = c < 3 && !(options.Grey && c > 0);
      const float v = colour                        ? image.Values[3 * p + c]
                      : options.AlphaValues.empty() ? 0.25f
                                                    : options.AlphaValues[p];
      floats[c][p] = v;
      halves[c][p] = Imath::half(v);
    }
    if (options.Half)
      frame.insert(names[c], Imf::Slice::Make(Imf::HALF, halves[c].data(), window,
                                              sizeof(Imath::half), sizeof(Imath::half) * w));
    else
      frame.insert(names[c], Imf::Slice::Make(Imf::FLOAT, floats[c].data(), window, sizeof(float),
                                              sizeof(float) * w));
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    for (int c = 0; c < 3; ++c) {
      const float v = image.Values[3 * p + (options.Grey ? 0 : c)];
      expected.Values[3 * p + c] = options.Half ? static_cast<float>(Imath::half(v)) : v;
    }
  }
  if (options.Tile > 0) {
    header.setTileDescription(Imf::TileDescription(options.Tile, options.Tile, Imf::ONE_LEVEL));
    Imf::TiledOutputFile file(path.c_str(), header);
    file.setFrameBuffer(frame);
    file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
  } else {
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(frame);
    file.writePixels(h);
  }
  return expected;
}

FloatImage ReadExrAsRgba(const std::string& path) {
  Imf::RgbaInputFile file(path.c_str());
  const Imath::Box2i window = file.dataWindow();
  const int w = window.max.x - window.min.x + 1, h = window.max.y - window.min.y + 1;
  Imf::Array2D<Imf::Rgba> pixels(h, w);
  file.setFrameBuffer(&pixels[0][0] - window.min.x - window.min.y * w, 1, w);
  file.readPixels(window.min.y, window.max.y);
  FloatImage image{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), {}};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.Values.push_back(pixels[y][x].r);
      image.Values.push_back(pixels[y][x].g);
      image.Values.push_back(pixels[y][x].b);
    }
  }
  return image;
}

}  // namespace lumivane::testing
