#include "formats/tiffrows.h"

#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "formats/numbertext.h"
#include "formats/tifflayout.h"
#include "io/parallel.h"

namespace lumivane {

namespace {

std::string CompressionName(std::uint16_t compression) {
  const TIFFCodec* codec = TIFFFindCODEC(compression);
  return codec ? codec->name : std::to_string(compression);
}

// libtiff handles are not thread-safe: each decoding thread has its own, over
// the same bytes (positioned reads), with its own scratch tile.
struct Decoder {
  ClientHandle Client;
  TiffHandle Tiff;
  std::vector<std::uint8_t> Tile;
};

// Decoded rows of one strip, of one row of tiles, or of a few rows of a large
// strip read by scanlines; every plane decoded.
struct Band {
  std::uint32_t First = 0;
  std::uint32_t Rows = 0;
  std::vector<std::vector<std::uint8_t>> Planes;
};

enum class SampleKind { Float32, Half, Unsigned16, Unsigned8 };

class TiffRows : public PositionedRowSource {
 public:
  TiffRows(std::unique_ptr<ByteSource> bytes, std::unique_ptr<Decoder> first, const Layout& layout,
           unsigned threads, const ReadLimits& limits)
      : bytes_(std::move(bytes)), layout_(layout), limits_(limits), workers_(threads) {
    colour_ = layout.Colour();
    planes_ = layout.DecodedPlanes();
    samplesInPlane_ = layout.SamplesInPlane();
    sampleBytes_ = layout.Bits / 8;
    planeRowBytes_ = static_cast<std::size_t>(layout.PlaneRowBytes());
    scanlines_ = ReadByScanlines(layout);
    bandHeight_ = layout.Tiled ? layout.TileHeight
                  : scanlines_ ? static_cast<std::uint32_t>(std::clamp<std::size_t>(
                                     kLargestWholeStrip / planeRowBytes_, 1, layout.Height))
                               : layout.RowsPerStrip;
    bandCount_ = (layout.Height - 1) / bandHeight_ + 1;
    tilesAcross_ = layout.Tiled ? (layout.Width - 1) / layout.TileWidth + 1 : 1;
    kind_ = layout.Format == SAMPLEFORMAT_IEEEFP
                ? (layout.Bits == 32 ? SampleKind::Float32 : SampleKind::Half)
                : (layout.Bits == 16 ? SampleKind::Unsigned16 : SampleKind::Unsigned8);
    // Separate planes decode the colour planes only: their alpha stays behind.
    alpha_ = layout.Alpha && !layout.Separate() && layout.AlphaSample >= (colour_ ? 3 : 1) &&
             layout.AlphaSample < layout.Samples;
    idle_.push_back(std::move(first));
    Describe();
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    return Read(destination, nullptr, rowCount, error);
  }

  bool ReadsAlpha() const override { return alpha_; }

  bool ReadRowsAndAlpha(float* destination, float* alpha, std::uint32_t rowCount,
                        std::string& error) override {
    if (alpha_) return Read(destination, alpha, rowCount, error);
    error = "its alpha is not read";
    return false;
  }

 private:
  // The rows, and their alpha samples into `alpha` unless it is null.
  bool Read(float* destination, float* alpha, std::uint32_t rowCount, std::string& error) {
    if (rowCount > layout_.Height - nextRow_) {
      error = "it holds fewer rows than asked for";
      return false;
    }
    if (rowCount == 0) return true;
    const std::uint32_t end = nextRow_ + rowCount;
    while (!bands_.empty() && bands_.front().First + bands_.front().Rows <= nextRow_)
      bands_.pop_front();
    if (!bands_.empty() && bands_.front().First > nextRow_) bands_.clear();
    const std::uint32_t lastNeeded = (end - 1) / bandHeight_;
    const std::uint32_t next =
        bands_.empty() ? nextRow_ / bandHeight_ : bands_.back().First / bandHeight_ + 1;
    if (next <= lastNeeded) {
      // A few bands more when the needed ones hold fewer strips or tiles than
      // there are threads; memory stays a few bands whatever the height.
      std::uint32_t last = lastNeeded;
      const std::size_t unitsPerBand = std::size_t{planes_} * tilesAcross_;
      while ((last - next + 1) * unitsPerBand < workers_.Threads() && last + 1 < bandCount_) ++last;
      if (!DecodeBands(next, last, error)) return false;
    }
    const std::size_t rowFloats = std::size_t{layout_.Width} * 3;
    workers_.Run(rowCount, [&](std::size_t begin, std::size_t stop) {
      for (std::size_t i = begin; i < stop; ++i) {
        const std::uint32_t row = nextRow_ + static_cast<std::uint32_t>(i);
        const Band& band = bands_[row / bandHeight_ - bands_.front().First / bandHeight_];
        ConvertRow(band, row - band.First, destination + i * rowFloats);
        if (alpha) ConvertAlpha(band, row - band.First, alpha + i * layout_.Width);
      }
    });
    nextRow_ = end;
    return true;
  }

  void Describe() {
    description_.FormatName = "TIFF";
    description_.Width = layout_.Width;
    description_.Height = layout_.Height;
    description_.Metadata.HasAlpha = layout_.Alpha;
    description_.Metadata.AlphaAssociated = layout_.AlphaAssociated;
    auto& lines = description_.HeaderLines;
    lines.push_back("Image Width:" + FormatNumber(layout_.Width, 15));
    lines.push_back("Image Length:" + FormatNumber(layout_.Height, 15));
    lines.push_back("Samples per pixel:" + FormatNumber(std::uint32_t{layout_.Samples}, 15));
    lines.push_back("Bits per sample:" + FormatNumber(std::uint32_t{layout_.Bits}, 15));
    lines.push_back(std::string("Sample format: ") + (layout_.Format == SAMPLEFORMAT_IEEEFP
                                                          ? "IEEE floating point"
                                                          : "unsigned integer, scaled to 0..1"));
    lines.push_back(std::string("Colours: ") + (colour_ ? "RGB" : "grey, given to R, G and B"));
    lines.push_back("Compression: " + CompressionName(layout_.Compression));
    lines.push_back(layout_.Tiled ? "Tiles:" + FormatNumber(layout_.TileWidth, 15) + " x" +
                                        FormatNumber(layout_.TileHeight, 15)
                                  : "Rows per strip:" + FormatNumber(layout_.RowsPerStrip, 15));
    lines.push_back(std::string("Planar configuration: ") +
                    (layout_.Separate() ? "separate planes" : "contiguous"));
  }

  static std::string LibraryError(const std::string& what, const Decoder& decoder) {
    return what + (decoder.Client.FirstError.empty() ? "" : " (" + decoder.Client.FirstError + ")");
  }

  // A decoder no other thread is using, opened on first need.
  std::unique_ptr<Decoder> Acquire(std::string& error) {
    {
      std::lock_guard lock(poolMutex_);
      if (!idle_.empty()) {
        std::unique_ptr<Decoder> decoder = std::move(idle_.back());
        idle_.pop_back();
        return decoder;
      }
    }
    auto decoder = std::make_unique<Decoder>();
    decoder->Client.Bytes = bytes_.get();
    decoder->Tiff.reset(OpenClient(decoder->Client, limits_));
    if (!decoder->Tiff) {
      error = LibraryError("it could not be opened again for another thread", *decoder);
      return nullptr;
    }
    return decoder;
  }

  void Release(std::unique_ptr<Decoder> decoder) {
    std::lock_guard lock(poolMutex_);
    idle_.push_back(std::move(decoder));
  }

  // Bands `from` to `to` appended to bands_, their strips and tiles decoded side
  // by side. The error is the one of the first failing strip or tile, so that
  // it does not depend on the number of threads.
  bool DecodeBands(std::uint32_t from, std::uint32_t to, std::string& error) {
    const std::size_t firstNew = bands_.size();
    for (std::uint32_t index = from; index <= to; ++index) {
      Band& band = bands_.emplace_back();
      band.First = index * bandHeight_;
      band.Rows = std::min(bandHeight_, layout_.Height - band.First);
      const std::size_t bytes = std::size_t{band.Rows} * planeRowBytes_;
      try {
        band.Planes.resize(planes_);
        for (auto& plane : band.Planes) plane.resize(bytes);
      } catch (const std::bad_alloc&) {
        error = NotEnoughMemory("a band of " + std::to_string(band.Rows) + " rows", bytes);
        bands_.clear();
        return false;
      }
    }
    if (scanlines_) return DecodeScanlines(firstNew, error);
    const std::size_t unitsPerBand = std::size_t{planes_} * tilesAcross_;
    std::mutex failureMutex;
    std::size_t failedUnit = SIZE_MAX;
    workers_.Run((to - from + 1) * unitsPerBand, [&](std::size_t begin, std::size_t end) {
      std::string why;
      std::unique_ptr<Decoder> decoder = Acquire(why);
      std::size_t unit = begin;
      if (decoder)
        for (; unit < end; ++unit) {
          Band& band = bands_[firstNew + unit / unitsPerBand];
          const auto plane = static_cast<std::uint16_t>(unit % unitsPerBand / tilesAcross_);
          const auto tile = static_cast<std::uint32_t>(unit % tilesAcross_);
          if (!DecodeUnit(*decoder, band, plane, tile, why)) break;
        }
      if (decoder) Release(std::move(decoder));
      if (unit == end) return;
      std::lock_guard lock(failureMutex);
      if (unit < failedUnit) {
        failedUnit = unit;
        error = why;
      }
    });
    if (failedUnit == SIZE_MAX) return true;
    bands_.clear();
    return false;
  }

  // The rows of the new bands, plane by plane, each plane through a handle of
  // its own that moves down its strips: a handle that had read another plane
  // would decode its strip again from the top.
  bool DecodeScanlines(std::size_t firstNew, std::string& error) {
    while (lineDecoders_.size() < planes_) {
      std::unique_ptr<Decoder> decoder = Acquire(error);
      if (!decoder) return false;
      lineDecoders_.push_back(std::move(decoder));
    }
    std::vector<std::string> failures(planes_);
    workers_.Run(planes_, [&](std::size_t begin, std::size_t end) {
      for (std::size_t plane = begin; plane < end; ++plane) {
        Decoder& decoder = *lineDecoders_[plane];
        for (std::size_t b = firstNew; b < bands_.size() && failures[plane].empty(); ++b) {
          Band& band = bands_[b];
          for (std::uint32_t r = 0; r < band.Rows; ++r) {
            decoder.Client.FirstError.clear();
            if (TIFFReadScanline(decoder.Tiff.get(), band.Planes[plane].data() + r * planeRowBytes_,
                                 band.First + r, static_cast<std::uint16_t>(plane)) < 0) {
              failures[plane] = LibraryError(
                  "row " + std::to_string(band.First + r + 1) + " could not be decoded", decoder);
              break;
            }
          }
        }
      }
    });
    for (const std::string& failure : failures) {
      if (failure.empty()) continue;
      error = failure;
      bands_.clear();
      return false;
    }
    return true;
  }

  // One strip, or one tile copied to its columns of the band.
  bool DecodeUnit(Decoder& decoder, Band& band, std::uint16_t plane, std::uint32_t tileColumn,
                  std::string& error) const {
    TIFF* tiff = decoder.Tiff.get();
    decoder.Client.FirstError.clear();
    std::vector<std::uint8_t>& out = band.Planes[plane];
    if (!layout_.Tiled) {
      const tmsize_t expected = static_cast<tmsize_t>(out.size());
      const tmsize_t got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, band.First, plane),
                                                out.data(), expected);
      if (got >= expected) return true;
      error = LibraryError("a strip could not be decoded", decoder);
      return false;
    }
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    const std::size_t tileRowBytes =
        std::size_t{layout_.TileWidth} * samplesInPlane_ * sampleBytes_;
    if (tileBytes <= 0 || static_cast<std::size_t>(tileBytes) < tileRowBytes * layout_.TileHeight) {
      error = LibraryError("its tile size is inconsistent", decoder);
      return false;
    }
    try {
      decoder.Tile.resize(static_cast<std::size_t>(tileBytes));
    } catch (const std::bad_alloc&) {
      error = NotEnoughMemory("a tile", static_cast<std::uint64_t>(tileBytes));
      return false;
    }
    const std::uint32_t x = tileColumn * layout_.TileWidth;
    const tmsize_t got = TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, band.First, 0, plane),
                                             decoder.Tile.data(), tileBytes);
    if (got < tileBytes) {
      error = LibraryError("a tile could not be decoded", decoder);
      return false;
    }
    const std::size_t columns = std::min(layout_.TileWidth, layout_.Width - x);
    const std::size_t bytes = columns * samplesInPlane_ * sampleBytes_;
    const std::size_t at = std::size_t{x} * samplesInPlane_ * sampleBytes_;
    for (std::uint32_t r = 0; r < band.Rows; ++r)
      std::memcpy(out.data() + r * planeRowBytes_ + at, decoder.Tile.data() + r * tileRowBytes,
                  bytes);
    return true;
  }

  // Samples `step` bytes apart from `at` to every `outStep`th float from `out`.
  template <SampleKind kind, std::size_t outStep = 3>
  void ConvertChannel(const std::uint8_t* at, std::size_t step, float* out) const {
    // libtiff has put every sample in this machine's byte order.
    for (std::uint32_t x = 0; x < layout_.Width; ++x, at += step, out += outStep) {
      if constexpr (kind == SampleKind::Float32) {
        std::memcpy(out, at, 4);
      } else if constexpr (kind == SampleKind::Half) {
        std::uint16_t bits;
        std::memcpy(&bits, at, 2);
        Imath::half value;
        value.setBits(bits);
        *out = static_cast<float>(value);
      } else if constexpr (kind == SampleKind::Unsigned16) {
        std::uint16_t value;
        std::memcpy(&value, at, 2);
        *out = static_cast<float>(value) / 65535.0f;
      } else {
        *out = static_cast<float>(*at) / 255.0f;
      }
    }
  }

  void ConvertRow(const Band& band, std::uint32_t bandRow, float* out) const {
    const std::uint16_t channels = colour_ ? 3 : 1;
    const std::size_t step = std::size_t{samplesInPlane_} * sampleBytes_;
    for (std::uint16_t c = 0; c < channels; ++c) {
      const bool separate = layout_.Separate();
      const std::uint8_t* at = band.Planes[separate ? c : 0].data() + bandRow * planeRowBytes_ +
                               (separate ? 0 : c * sampleBytes_);
      switch (kind_) {
        case SampleKind::Float32:
          ConvertChannel<SampleKind::Float32>(at, step, out + c);
          break;
        case SampleKind::Half:
          ConvertChannel<SampleKind::Half>(at, step, out + c);
          break;
        case SampleKind::Unsigned16:
          ConvertChannel<SampleKind::Unsigned16>(at, step, out + c);
          break;
        case SampleKind::Unsigned8:
          ConvertChannel<SampleKind::Unsigned8>(at, step, out + c);
          break;
      }
    }
    if (!colour_)
      for (std::uint32_t x = 0; x < layout_.Width; ++x, out += 3) out[1] = out[2] = out[0];
  }

  // The alpha sample of each pixel of a contiguous row, one float a pixel.
  void ConvertAlpha(const Band& band, std::uint32_t bandRow, float* out) const {
    const std::size_t step = std::size_t{samplesInPlane_} * sampleBytes_;
    const std::uint8_t* at =
        band.Planes[0].data() + bandRow * planeRowBytes_ + layout_.AlphaSample * sampleBytes_;
    switch (kind_) {
      case SampleKind::Float32:
        return ConvertChannel<SampleKind::Float32, 1>(at, step, out);
      case SampleKind::Half:
        return ConvertChannel<SampleKind::Half, 1>(at, step, out);
      case SampleKind::Unsigned16:
        return ConvertChannel<SampleKind::Unsigned16, 1>(at, step, out);
      case SampleKind::Unsigned8:
        return ConvertChannel<SampleKind::Unsigned8, 1>(at, step, out);
    }
  }

  std::unique_ptr<ByteSource> bytes_;
  Layout layout_;
  ReadLimits limits_;
  RowWorkers workers_;
  ImageDescription description_;
  bool colour_ = true;
  bool alpha_ = false;  // the alpha sample is read for the outputs that keep it
  SampleKind kind_ = SampleKind::Float32;
  std::uint16_t planes_ = 1;
  std::uint16_t samplesInPlane_ = 1;
  std::size_t sampleBytes_ = 1;
  std::size_t planeRowBytes_ = 0;
  std::uint32_t bandHeight_ = 1;
  std::uint32_t bandCount_ = 1;
  std::uint32_t tilesAcross_ = 1;
  bool scanlines_ = false;
  std::mutex poolMutex_;
  std::vector<std::unique_ptr<Decoder>> idle_;
  // By scanlines: the handle of each plane.
  std::vector<std::unique_ptr<Decoder>> lineDecoders_;
  std::deque<Band> bands_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                             const ReadLimits& limits, std::string& error) {
  auto decoder = std::make_unique<Decoder>();
  decoder->Client.Bytes = bytes.get();
  decoder->Tiff.reset(OpenClient(decoder->Client, limits));
  if (!decoder->Tiff) {
    error = "it is not a TIFF file libtiff can read" +
            (decoder->Client.FirstError.empty() ? "" : " (" + decoder->Client.FirstError + ")");
    return nullptr;
  }
  const Layout layout = ReadLayout(decoder->Tiff.get());
  error = RefuseLayout(decoder->Tiff.get(), layout, bytes->Size(), limits);
  if (!error.empty()) return nullptr;
  return std::make_unique<TiffRows>(std::move(bytes), std::move(decoder), layout, threads, limits);
}

}  // namespace lumivane
