#include "formats/tiffrows.h"

#include <tiffio.h>

#include <Imath/half.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/numbertext.h"

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
  return {};
}

std::string CompressionName(std::uint16_t compression) {
  const TIFFCodec* codec = TIFFFindCODEC(compression);
  return codec ? codec->name : std::to_string(compression);
}

class TiffRows : public ImageRowSource {
 public:
  TiffRows(std::unique_ptr<ByteSource> bytes, std::unique_ptr<ClientHandle> client, TiffHandle tiff,
           const Layout& layout)
      : bytes_(std::move(bytes)),
        client_(std::move(client)),
        tiff_(std::move(tiff)),
        layout_(layout) {
    colour_ = layout.Photometric == PHOTOMETRIC_RGB;
    planes_ = layout.Planar == PLANARCONFIG_SEPARATE ? layout.Samples : 1;
    samplesInPlane_ = layout.Planar == PLANARCONFIG_SEPARATE ? 1 : layout.Samples;
    sampleBytes_ = layout.Bits / 8;
    planeRowBytes_ = std::size_t{layout.Width} * samplesInPlane_ * sampleBytes_;
    bandHeight_ = layout.Tiled ? layout.TileHeight : layout.RowsPerStrip;
    Describe();
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    for (std::uint32_t i = 0; i < rowCount; ++i, ++nextRow_) {
      if (nextRow_ >= layout_.Height) {
        error = "it holds fewer rows than asked for";
        return false;
      }
      if (!bandLoaded_ || nextRow_ < bandFirst_ || nextRow_ >= bandFirst_ + bandRows_) {
        if (!LoadBand(nextRow_ / bandHeight_ * bandHeight_, error)) return false;
      }
      ConvertRow(nextRow_ - bandFirst_, destination + std::size_t{i} * layout_.Width * 3);
    }
    return true;
  }

  bool Rewind(std::string&) override {
    nextRow_ = 0;
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

  std::string LibraryError(const char* what) const {
    return std::string(what) +
           (client_->FirstError.empty() ? "" : " (" + client_->FirstError + ")");
  }

  // Decodes the strip or the row of tiles that starts at row `first`, every plane.
  bool LoadBand(std::uint32_t first, std::string& error) {
    bandLoaded_ = false;
    bandFirst_ = first;
    bandRows_ = std::min(bandHeight_, layout_.Height - first);
    band_.resize(planes_);
    for (std::uint16_t plane = 0; plane < planes_; ++plane) {
      std::vector<std::uint8_t>& out = band_[plane];
      out.resize(std::size_t{bandRows_} * planeRowBytes_);
      if (!layout_.Tiled) {
        const tmsize_t expected = static_cast<tmsize_t>(out.size());
        const tmsize_t got = TIFFReadEncodedStrip(
            tiff_.get(), TIFFComputeStrip(tiff_.get(), first, plane), out.data(), expected);
        if (got < expected) {
          error = LibraryError("a strip could not be decoded");
          return false;
        }
        continue;
      }
      const tmsize_t tileBytes = TIFFTileSize(tiff_.get());
      const std::size_t tileRowBytes =
          std::size_t{layout_.TileWidth} * samplesInPlane_ * sampleBytes_;
      if (tileBytes <= 0 ||
          static_cast<std::size_t>(tileBytes) < tileRowBytes * layout_.TileHeight) {
        error = LibraryError("its tile size is inconsistent");
        return false;
      }
      tile_.resize(static_cast<std::size_t>(tileBytes));
      for (std::uint32_t x = 0; x < layout_.Width; x += layout_.TileWidth) {
        const tmsize_t got = TIFFReadEncodedTile(
            tiff_.get(), TIFFComputeTile(tiff_.get(), x, first, 0, plane), tile_.data(), tileBytes);
        if (got < tileBytes) {
          error = LibraryError("a tile could not be decoded");
          return false;
        }
        const std::size_t columns = std::min(layout_.TileWidth, layout_.Width - x);
        const std::size_t bytes = columns * samplesInPlane_ * sampleBytes_;
        const std::size_t at = std::size_t{x} * samplesInPlane_ * sampleBytes_;
        for (std::uint32_t r = 0; r < bandRows_; ++r)
          std::memcpy(out.data() + r * planeRowBytes_ + at, tile_.data() + r * tileRowBytes, bytes);
      }
    }
    bandLoaded_ = true;
    return true;
  }

  float Sample(std::uint32_t bandRow, std::uint32_t x, std::uint16_t sample) const {
    const std::uint16_t plane = planes_ > 1 ? sample : 0;
    const std::size_t index = std::size_t{x} * samplesInPlane_ + (planes_ > 1 ? 0 : sample);
    const std::uint8_t* at = band_[plane].data() + bandRow * planeRowBytes_ + index * sampleBytes_;
    // libtiff has put every sample in this machine's byte order.
    if (layout_.Format == SAMPLEFORMAT_IEEEFP) {
      if (layout_.Bits == 32) {
        float value;
        std::memcpy(&value, at, 4);
        return value;
      }
      std::uint16_t bits;
      std::memcpy(&bits, at, 2);
      Imath::half value;
      value.setBits(bits);
      return static_cast<float>(value);
    }
    if (layout_.Bits == 8) return static_cast<float>(*at) / 255.0f;
    std::uint16_t value;
    std::memcpy(&value, at, 2);
    return static_cast<float>(value) / 65535.0f;
  }

  void ConvertRow(std::uint32_t bandRow, float* out) const {
    for (std::uint32_t x = 0; x < layout_.Width; ++x, out += 3) {
      if (colour_) {
        for (std::uint16_t c = 0; c < 3; ++c) out[c] = Sample(bandRow, x, c);
      } else {
        out[0] = out[1] = out[2] = Sample(bandRow, x, 0);
      }
    }
  }

  std::unique_ptr<ByteSource> bytes_;
  std::unique_ptr<ClientHandle> client_;
  TiffHandle tiff_;
  Layout layout_;
  ImageDescription description_;
  bool colour_ = true;
  std::uint16_t planes_ = 1;
  std::uint16_t samplesInPlane_ = 1;
  std::size_t sampleBytes_ = 1;
  std::size_t planeRowBytes_ = 0;
  std::uint32_t bandHeight_ = 1;
  std::vector<std::vector<std::uint8_t>> band_;
  std::vector<std::uint8_t> tile_;
  bool bandLoaded_ = false;
  std::uint32_t bandFirst_ = 0;
  std::uint32_t bandRows_ = 0;
  std::uint32_t nextRow_ = 0;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes,
                                             std::string& error) {
  auto client = std::make_unique<ClientHandle>();
  client->Bytes = bytes.get();
  TiffHandle tiff(OpenClient(*client));
  if (!tiff) {
    error = "it is not a TIFF file libtiff can read" +
            (client->FirstError.empty() ? "" : " (" + client->FirstError + ")");
    return nullptr;
  }
  const Layout layout = ReadLayout(tiff.get());
  error = Unreadable(layout);
  if (!error.empty()) return nullptr;
  return std::make_unique<TiffRows>(std::move(bytes), std::move(client), std::move(tiff), layout);
}

bool NeedsGeneralTiffReader(ByteSource& bytes) {
  ClientHandle client;
  client.Bytes = &bytes;
  TiffHandle tiff(OpenClient(client));
  if (!tiff) return false;
  const Layout layout = ReadLayout(tiff.get());
  const bool classic = layout.Compression == COMPRESSION_NONE && !layout.Tiled &&
                       layout.Planar == PLANARCONFIG_CONTIG && layout.Samples == 3 &&
                       layout.Bits == 32 && layout.Format == SAMPLEFORMAT_IEEEFP;
  return !classic;
}

}  // namespace lumivane
