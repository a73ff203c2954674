#include "formats/tifflayout.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "formats/tiffclient.h"

namespace lumivane {

namespace {

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

toff_t ClientSize(thandle_t handle) {
  return static_cast<ClientHandle*>(handle)->Bytes->Size();
}

constexpr std::uint64_t kMaxTilePixels = std::uint64_t{1} << 24;

// Empty when the reader decodes these samples; otherwise why not.
std::string RefuseSamples(const Layout& layout) {
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

std::string Size(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// The buffers the reader allocates for one band of rows and one tile.
std::string RefuseBuffers(TIFF* tiff, const Layout& layout, const ReadLimits& limits) {
  std::string refusal = RefuseImageSize(layout.Width, layout.Height, limits);
  const std::uint64_t rowBytes = layout.PlaneRowBytes();
  if (refusal.empty())
    refusal = RefuseBuffer("rows of " + std::to_string(layout.Width) + " pixels of " +
                               std::to_string(layout.SamplesInPlane()) + " samples",
                           "one row of samples", rowBytes, limits);
  if (!refusal.empty()) return refusal;
  if (layout.Tiled) {
    const std::string tiles = "tiles of " + Size(layout.TileWidth, layout.TileHeight);
    refusal = RefuseBuffer(tiles, "one decoded tile", TIFFTileSize64(tiff), limits);
    if (refusal.empty())
      refusal = RefuseBuffer(tiles + " across " + std::to_string(layout.Width) + " pixels",
                             "one row of tiles", layout.TileHeight * rowBytes, limits);
  }
  return refusal;
}

std::string Which(const Layout& layout, std::uint32_t index, std::uint32_t count) {
  return std::string(layout.Tiled ? "tile " : "strip ") + std::to_string(index + 1) + " of " +
         std::to_string(count);
}

// Every strip or tile of the decoded planes: its bytes within the file, all
// of them when it is uncompressed. libtiff would otherwise fail in the middle
// of the image, after the rows before it were handed out.
std::string RefuseMissingData(TIFF* tiff, const Layout& layout, std::uint64_t fileSize) {
  const std::uint32_t count = layout.Tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  const std::uint32_t perPlane = layout.Separate() ? count / layout.Samples : count;
  const std::uint32_t decoded = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(count, std::uint64_t{perPlane} * layout.DecodedPlanes()));
  if (perPlane == 0) return "it has no strips or tiles";
  const std::uint64_t tileBytes = layout.Tiled ? TIFFTileSize64(tiff) : 0;
  for (std::uint32_t index = 0; index < decoded; ++index) {
    int failed = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, index, &failed);
    const std::uint64_t bytes = failed ? 0 : TIFFGetStrileByteCountWithErr(tiff, index, &failed);
    if (failed || bytes == 0) return "its " + Which(layout, index, count) + " holds no data";
    if (offset > fileSize || bytes > fileSize - offset)
      return "its " + Which(layout, index, count) + " claims " + std::to_string(bytes) +
             " bytes from byte " + std::to_string(offset) + ", beyond the end of the file (" +
             std::to_string(fileSize) + " bytes)";
    if (layout.Compression != COMPRESSION_NONE) continue;
    std::uint64_t needed = tileBytes;
    if (!layout.Tiled) {
      const std::uint64_t first = std::uint64_t{index % perPlane} * layout.RowsPerStrip;
      const std::uint64_t rows = first < layout.Height ? layout.Height - first : 0;
      needed = std::min<std::uint64_t>(layout.RowsPerStrip, rows) * layout.PlaneRowBytes();
    }
    if (bytes < needed)
      return "its " + Which(layout, index, count) + " is uncompressed but holds " +
             std::to_string(bytes) + " bytes, fewer than the " + std::to_string(needed) +
             " of its pixels";
  }
  return {};
}

}  // namespace

TIFF* OpenClient(ClientHandle& client, const ReadLimits& limits) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiffclient::KeepError<ClientHandle>, &client);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiffclient::DropWarning, &client);
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options, static_cast<tmsize_t>(std::min<std::uint64_t>(
                   limits.MaxBufferBytes, std::numeric_limits<tmsize_t>::max())));
  // "m": never map the file; "h": the header is read here, the IFD on demand.
  TIFF* tiff =
      TIFFClientOpenExt("input", "rm", &client, ClientRead, ClientWrite, ClientSeek,
                        tiffclient::Close, ClientSize, tiffclient::Map, tiffclient::Unmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

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
  std::uint16_t extras = 0;
  std::uint16_t* kinds = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && kinds)
    for (std::uint16_t i = 0; i < extras && !layout.Alpha; ++i) {
      if (kinds[i] != EXTRASAMPLE_ASSOCALPHA && kinds[i] != EXTRASAMPLE_UNASSALPHA) continue;
      // The extra samples are the last of a pixel's.
      layout.Alpha = true;
      layout.AlphaSample = static_cast<std::uint16_t>(layout.Samples - extras + i);
      layout.AlphaAssociated = kinds[i] == EXTRASAMPLE_ASSOCALPHA;
    }
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

std::string RefuseLayout(TIFF* tiff, const Layout& layout, std::uint64_t fileSize,
                         const ReadLimits& limits) {
  std::string refusal = RefuseSamples(layout);
  if (refusal.empty()) refusal = RefuseBuffers(tiff, layout, limits);
  if (refusal.empty()) refusal = RefuseMissingData(tiff, layout, fileSize);
  return refusal;
}

}  // namespace lumivane
