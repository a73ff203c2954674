#include "formats/tiffrows.h"

#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "formats/numbertext.h"
#include "io/parallel.h"

namespace lumivane {

namespace {

// libtiff reads through these, so that it sees the already opened file or bytes.
struct ClientHandle {
  ByteSource* Bytes = nullptr;
  std::uint64_t Position = 0;
  // libtiff's first complaint, kept for the message (it says what is wrong in words).
  std::string FirstError;
};

tmsize_t ClientRead(thandle_t handle, void* destination, tmsize_t count) {
  auto* client = static_cast<ClientHandle*>(handle);
  if (count <= 0) return 0;
  const std::size_t got =
      client->Bytes->ReadAt(destination, static_cast<std::size_t>(count), client->Position);
  client->Position += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t ClientWrite(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t ClientSeek(thandle_t handle, toff_t offset, int whence) {
  auto* client = static_cast<ClientHandle*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = client->Position;
  if (whence == SEEK_END) base = client->Bytes->Size();
  client->Position = base + offset;
  return client->Position;
}

int ClientClose(thandle_t) {
  return 0;
}
toff_t ClientSize(thandle_t handle) {
  return static_cast<ClientHandle*>(handle)->Bytes->Size();
}
int ClientMap(thandle_t, void**, toff_t*) {
  return 0;
}
void ClientUnmap(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* userData, const char*, const char* format, va_list arguments) {
  auto* client = static_cast<ClientHandle*>(userData);
  if (client->FirstError.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    client->FirstError = text;
  }
  return 1;
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// A libtiff handle over `client`, with libtiff's messages kept instead of printed
// and no single allocation above 1 GiB.
TIFF* OpenClient(ClientHandle& client) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &client);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, &client);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t{1} << 30);
  // "m": never map the file; "h": the header is read here, the IFD on demand.
  TIFF* tiff = TIFFClientOpenExt("input", "rm", &client, ClientRead, ClientWrite, ClientSeek,
                                 ClientClose, ClientSize, ClientMap, ClientUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

struct TiffDeleter {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffDeleter>;

struct Layout {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t Samples = 1;
  std::uint16_t Bits = 8;
  std::uint16_t Format = SAMPLEFORMAT_UINT;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  std::uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t Compression = COMPRESSION_NONE;
  bool Tiled = false;
  std::uint32_t TileWidth = 0;
  std::uint32_t TileHeight = 0;
  std::uint32_t RowsPerStrip = 0;
};

Layout ReadLayout(TIFF* tiff) {
  Layout layout;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.Width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.Height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.Samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.Bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout.Format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.Planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.Compression);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.Photometric))
    layout.Photometric = layout.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  layout.Tiled = TIFFIsTiled(tiff) != 0;
  if (layout.Tiled) {
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.TileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.TileHeight);
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.RowsPerStrip);
    layout.RowsPerStrip = std::clamp<std::uint32_t>(layout.RowsPerStrip, 1, layout.Height);
  }
  return layout;
}

constexpr std::uint64_t kMaxTilePixels = std::uint64_t{1} << 24;

// Empty when the reader takes the layout; otherwise why not.
std::string Unreadable(const Layout& layout) {
  if (layout.Width == 0 || layout.Height == 0) return "it has no pixels (width or height 0)";
  if (std::uint64_t{layout.Width} * layout.Height > kMaxLibraryImagePixels)
    return "it has more than 2^31 pixels";
  const bool floats =
      layout.Format == SAMPLEFORMAT_IEEEFP && (layout.Bits == 32 || layout.Bits == 16);
  const bool integers =
      layout.Format == SAMPLEFORMAT_UINT && (layout.Bits == 8 || layout.Bits == 16);
  if (!floats && !integers)
    return "its samples are " + std::to_string(layout.Bits) + "-bit " +
           (layout.Format == SAMPLEFORMAT_IEEEFP ? "floats"
            : layout.Format == SAMPLEFORMAT_UINT ? "unsigned integers"
                                                 : "signed or complex numbers") +
           "; only 32- and 16-bit floats and 16- and 8-bit unsigned integers are read";
  if (layout.Photometric == PHOTOMETRIC_RGB && layout.Samples < 3)
    return "it is an RGB image with fewer than three samples per pixel";
  if (layout.Photometric != PHOTOMETRIC_RGB && layout.Photometric != PHOTOMETRIC_MINISBLACK)
    return "its colours are neither RGB nor grey (black at zero); palette, YCbCr, CMYK and "
           "other colour spaces are not read";
  if (layout.Samples == 0) return "it has no samples per pixel";
  if (!TIFFIsCODECConfigured(layout.Compression))
    return "its compression (" + std::to_string(layout.Compression) +
           ") is one this libtiff cannot decode";
  if (layout.Tiled && (layout.TileWidth == 0 || layout.TileHeight == 0))
    return "it is tiled but its tile size is 0";
  // Each decoding thread holds a whole tile; a header of a few bytes can
  // declare one of gigabytes, as OpenEXR tiles are bounded too.
  if (layout.Tiled && std::uint64_t{layout.TileWidth} * layout.TileHeight > kMaxTilePixels)
    return "its tiles have more than 2^24 pixels (" + std::to_string(layout.TileWidth) + " x " +
           std::to_string(layout.TileHeight) + ")";
  return {};
}

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

// Decoded rows of one strip, or of one row of tiles, every plane.
struct Band {
  std::uint32_t First = 0;
  std::uint32_t Rows = 0;
  std::vector<std::vector<std::uint8_t>> Planes;
};

enum class SampleKind { Float32, Half, Unsigned16, Unsigned8 };

class TiffRows : public PositionedRowSource {
 public:
  TiffRows(std::unique_ptr<ByteSource> bytes, std::unique_ptr<Decoder> first, const Layout& layout,
           unsigned threads)
      : bytes_(std::move(bytes)), layout_(layout), workers_(threads) {
    colour_ = layout.Photometric == PHOTOMETRIC_RGB;
    planes_ = layout.Planar == PLANARCONFIG_SEPARATE ? layout.Samples : 1;
    samplesInPlane_ = layout.Planar == PLANARCONFIG_SEPARATE ? 1 : layout.Samples;
    sampleBytes_ = layout.Bits / 8;
    planeRowBytes_ = std::size_t{layout.Width} * samplesInPlane_ * sampleBytes_;
    bandHeight_ = layout.Tiled ? layout.TileHeight : layout.RowsPerStrip;
    bandCount_ = (layout.Height - 1) / bandHeight_ + 1;
    tilesAcross_ = layout.Tiled ? (layout.Width - 1) / layout.TileWidth + 1 : 1;
    kind_ = layout.Format == SAMPLEFORMAT_IEEEFP
                ? (layout.Bits == 32 ? SampleKind::Float32 : SampleKind::Half)
                : (layout.Bits == 16 ? SampleKind::Unsigned16 : SampleKind::Unsigned8);
    idle_.push_back(std::move(first));
    Describe();
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
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
      }
    });
    nextRow_ = end;
    return true;
  }

 private:
  void Describe() {
    description_.FormatName = "TIFF";
    description_.Width = layout_.Width;
    description_.Height = layout_.Height;
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
                    (planes_ > 1 ? "separate planes" : "contiguous"));
  }

  static std::string LibraryError(const char* what, const Decoder& decoder) {
    return std::string(what) +
           (decoder.Client.FirstError.empty() ? "" : " (" + decoder.Client.FirstError + ")");
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
    decoder->Tiff.reset(OpenClient(decoder->Client));
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
      band.Planes.resize(planes_);
      for (auto& plane : band.Planes) plane.resize(std::size_t{band.Rows} * planeRowBytes_);
    }
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
    decoder.Tile.resize(static_cast<std::size_t>(tileBytes));
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

  // Samples `step` bytes apart from `at` to every third float from `out`.
  template <SampleKind kind>
  void ConvertChannel(const std::uint8_t* at, std::size_t step, float* out) const {
    // libtiff has put every sample in this machine's byte order.
    for (std::uint32_t x = 0; x < layout_.Width; ++x, at += step, out += 3) {
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
      const std::uint8_t* at = band.Planes[planes_ > 1 ? c : 0].data() + bandRow * planeRowBytes_ +
                               (planes_ > 1 ? 0 : c * sampleBytes_);
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

  std::unique_ptr<ByteSource> bytes_;
  Layout layout_;
  RowWorkers workers_;
  ImageDescription description_;
  bool colour_ = true;
  SampleKind kind_ = SampleKind::Float32;
  std::uint16_t planes_ = 1;
  std::uint16_t samplesInPlane_ = 1;
  std::size_t sampleBytes_ = 1;
  std::size_t planeRowBytes_ = 0;
  std::uint32_t bandHeight_ = 1;
  std::uint32_t bandCount_ = 1;
  std::uint32_t tilesAcross_ = 1;
  std::mutex poolMutex_;
  std::vector<std::unique_ptr<Decoder>> idle_;
  std::deque<Band> bands_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes,
                                                     unsigned threads, std::string& error) {
  auto decoder = std::make_unique<Decoder>();
  decoder->Client.Bytes = bytes.get();
  decoder->Tiff.reset(OpenClient(decoder->Client));
  if (!decoder->Tiff) {
    error = "it is not a TIFF file libtiff can read" +
            (decoder->Client.FirstError.empty() ? "" : " (" + decoder->Client.FirstError + ")");
    return nullptr;
  }
  const Layout layout = ReadLayout(decoder->Tiff.get());
  error = Unreadable(layout);
  if (!error.empty()) return nullptr;
  return std::make_unique<TiffRows>(std::move(bytes), std::move(decoder), layout, threads);
}

}  // namespace lumivane
