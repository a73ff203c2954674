#include "formats/exrchecks.h"

#include <OpenEXR/openexr.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

namespace lumivane {

namespace {

// Tiles of more pixels than this are refused: the library keeps a buffer the
// size of a tile per thread, and files in use have tiles of 32 to 512 pixels a side.
constexpr std::uint64_t kMaxTilePixels = std::uint64_t{1} << 24;

// What the C core reads through, and its first complaint.
struct CoreClient {
  ByteSource* Bytes = nullptr;
  std::string FirstError;
};

std::int64_t CoreRead(exr_const_context_t, void* client, void* destination, std::uint64_t count,
                      std::uint64_t offset, exr_stream_error_func_ptr_t) {
  return static_cast<std::int64_t>(
      static_cast<CoreClient*>(client)->Bytes->ReadAt(destination, count, offset));
}

std::int64_t CoreSize(exr_const_context_t, void* client) {
  return static_cast<std::int64_t>(static_cast<CoreClient*>(client)->Bytes->Size());
}

void CoreComplaint(exr_const_context_t context, exr_result_t, const char* message) {
  void* client = nullptr;
  if (exr_get_user_data(context, &client) != EXR_ERR_SUCCESS || !client) return;
  std::string& first = static_cast<CoreClient*>(client)->FirstError;
  if (first.empty()) first = message ? message : "unknown";
}

struct CoreDeleter {
  void operator()(exr_context_t context) const { exr_finish(&context); }
};

// The value sizes of the attribute types the C++ library reads as fixed
// fields, whatever the size field says.
std::uint32_t FixedValueSize(const std::string& type) {
  static const std::pair<const char*, std::uint32_t> kSizes[] = {
      {"box2i", 16},      {"box2f", 16},   {"chromaticities", 32},
      {"compression", 1}, {"double", 8},   {"envmap", 1},
      {"float", 4},       {"int", 4},      {"keycode", 28},
      {"lineOrder", 1},   {"m33f", 36},    {"m33d", 72},
      {"m44f", 64},       {"m44d", 128},   {"rational", 8},
      {"tiledesc", 9},    {"timecode", 8}, {"v2i", 8},
      {"v2f", 8},         {"v2d", 16},     {"v3i", 12},
      {"v3f", 12},        {"v3d", 24},     {"deepImageState", 1}};
  for (const auto& [name, size] : kSizes)
    if (type == name) return size;
  return 0;
}

// Why the attributes of the headers are refused, or nothing. The C++ library
// allocates a value (a string, a preview, an unknown type) from size fields
// before it reads it, and reads some types by their content rather than by
// their size field: every size must lie within the file and agree with the
// content, so that the library walks the same attributes as this check. Only
// the framing is walked here; the values are the library's.
std::string RefuseAttributeSizes(ByteSource& bytes) {
  const std::uint64_t size = bytes.Size();
  std::uint8_t version[4] = {};
  if (bytes.ReadAt(version, 4, 4) != 4) return "its header is cut short";
  const bool multipart = (version[1] & 0x10) != 0;
  const std::size_t longest = (version[1] & 0x04) != 0 ? 255 : 31;
  std::uint64_t at = 8;
  // The text up to the next zero byte, at most `longest` bytes long.
  const auto text = [&](std::string& out) {
    char buffer[256];
    const std::size_t got = bytes.ReadAt(buffer, std::min(sizeof buffer, longest + 1), at);
    const auto end = std::find(buffer, buffer + got, '\0');
    if (end == buffer + got) return false;
    out.assign(buffer, end);
    at += out.size() + 1;
    return true;
  };
  const auto number = [&](std::uint64_t from, std::uint32_t& out) {
    std::uint8_t b[4] = {};
    if (bytes.ReadAt(b, 4, from) != 4) return false;
    out = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
    return true;
  };
  for (;;) {
    std::string name, type;
    std::uint32_t length = 0;
    if (!text(name)) return "its header is cut short or has an over-long attribute name";
    if (name.empty()) {
      // The end of a header; a multi-part file's headers end with an empty one.
      if (!multipart) return {};
      std::uint8_t next = 0;
      if (bytes.ReadAt(&next, 1, at) != 1) return "its header is cut short";
      if (next == 0) return {};
      continue;
    }
    if (!text(type) || !number(at, length)) return "its header is cut short";
    at += 4;
    const std::string refusal = "its attribute \"" + name + "\" (" + type + ") claims " +
                                std::to_string(length) + " bytes, ";
    if (length > size - std::min(size, at)) return refusal + "more than the file holds";
    const std::uint32_t fixed = FixedValueSize(type);
    std::uint64_t content = length;
    if (fixed) content = fixed;
    if (type == "preview") {
      std::uint32_t width = 0, height = 0;
      if (!number(at, width) || !number(at + 4, height)) return "its preview is cut short";
      content = 8 + std::uint64_t{width} * height * 4;
    }
    if (type == "chlist") {
      // Channels until an empty name, each name followed by 16 bytes.
      const std::uint64_t end = at + length;
      std::string channel;
      while (text(channel) && !channel.empty() && at <= end) at += 16;
      if (!channel.empty() || at != end) return refusal + "not what its channel list holds";
      continue;
    }
    if (type == "stringvector") {
      std::uint64_t inner = 0;
      std::uint32_t count = 0;
      while (inner < length) {
        if (length - inner < 4 || !number(at + inner, count) || count > length - inner - 4)
          return refusal + "not what its strings hold";
        inner += 4 + std::uint64_t{count};
      }
    }
    if (content != length) return refusal + "not the " + std::to_string(content) + " it holds";
    at += length;
  }
}

// The first part that holds colour (R, G, B or Y) and is not deep; -1 for none.
int ColourPart(exr_const_context_t core, int parts) {
  for (int part = 0; part < parts; ++part) {
    exr_storage_t storage{};
    const exr_attr_chlist_t* channels = nullptr;
    if (exr_get_storage(core, part, &storage) != EXR_ERR_SUCCESS ||
        storage == EXR_STORAGE_DEEP_SCANLINE || storage == EXR_STORAGE_DEEP_TILED ||
        exr_get_channels(core, part, &channels) != EXR_ERR_SUCCESS || !channels)
      continue;
    for (int c = 0; c < channels->num_channels; ++c) {
      const std::string name(channels->entries[c].name.str,
                             static_cast<std::size_t>(channels->entries[c].name.length));
      if (name == "R" || name == "G" || name == "B" || name == "Y") return part;
    }
  }
  return -1;
}

std::string CoreReason(exr_result_t result, const CoreClient& client) {
  return client.FirstError.empty() ? exr_get_default_error_message(result) : client.FirstError;
}

struct PartShape {
  exr_storage_t Storage = EXR_STORAGE_SCANLINE;
  exr_attr_box2i_t Window{};
  std::int64_t Width = 0;
  std::int64_t Height = 0;
  std::uint32_t TileWidth = 0;
  std::uint32_t TileHeight = 0;
};

// The buffers the C++ library allocates to read the part: a decoded chunk
// (per thread), and for tiles a row of them across the data window.
std::string RefuseBuffers(exr_const_context_t core, int part, const PartShape& shape,
                          const ReadLimits& limits) {
  std::string refusal = RefuseImageSize(static_cast<std::uint64_t>(shape.Width),
                                        static_cast<std::uint64_t>(shape.Height), limits);
  if (!refusal.empty()) return refusal;
  std::uint64_t chunkBytes = 0;
  std::int32_t lines = 1;
  if (exr_get_chunk_unpacked_size(core, part, &chunkBytes) != EXR_ERR_SUCCESS)
    return "the size of its chunks cannot be read";
  const bool tiled = shape.Storage == EXR_STORAGE_TILED;
  if (!tiled) exr_get_scanlines_per_chunk(core, part, &lines);
  const std::string claim = tiled ? "tiles of " + std::to_string(shape.TileWidth) + " x " +
                                        std::to_string(shape.TileHeight) + " pixels"
                                  : std::to_string(shape.Width) + " x " +
                                        std::to_string(shape.Height) + " pixels in chunks of " +
                                        std::to_string(lines) + " rows";
  refusal = RefuseBuffer(claim, "one decoded chunk", chunkBytes, limits);
  if (!refusal.empty() || !tiled) return refusal;
  const std::uint64_t tilePixels = std::uint64_t{shape.TileWidth} * shape.TileHeight;
  const std::uint64_t pixelBytes = tilePixels ? chunkBytes / tilePixels : 0;
  return RefuseBuffer(
      claim + " across " + std::to_string(shape.Width) + " pixels", "one row of tiles",
      pixelBytes * shape.TileHeight * static_cast<std::uint64_t>(shape.Width), limits);
}

// Every chunk of the part's data window (level 0 of a tiled part), found
// through the chunk table at a place the file holds and starting with the
// rows or the tile the table says, and an uncompressed one holding all its
// bytes: otherwise the library reads what it did not find as zeros.
std::string RefuseChunkTable(exr_const_context_t core, int part, const PartShape& shape,
                             CoreClient& client) {
  exr_chunk_info_t chunk{};
  client.FirstError.clear();
  const auto refuse = [&](exr_result_t result, const std::string& which) -> std::string {
    if (result != EXR_ERR_SUCCESS)
      return "its chunk table does not cover its data window: the " + which + " cannot be read (" +
             CoreReason(result, client) + ")";
    if (chunk.compression == EXR_COMPRESSION_NONE && chunk.packed_size != chunk.unpacked_size)
      return "its " + which + " is uncompressed but holds " + std::to_string(chunk.packed_size) +
             " bytes, not the " + std::to_string(chunk.unpacked_size) + " of its pixels";
    return {};
  };
  if (shape.Storage == EXR_STORAGE_TILED) {
    const std::int64_t across = (shape.Width - 1) / shape.TileWidth + 1;
    const std::int64_t down = (shape.Height - 1) / shape.TileHeight + 1;
    for (std::int64_t y = 0; y < down; ++y)
      for (std::int64_t x = 0; x < across; ++x) {
        const std::string refusal =
            refuse(exr_read_tile_chunk_info(core, part, static_cast<int>(x), static_cast<int>(y), 0,
                                            0, &chunk),
                   "tile " + std::to_string(x) + ", " + std::to_string(y));
        if (!refusal.empty()) return refusal;
      }
    return {};
  }
  std::int32_t lines = 1;
  if (exr_get_scanlines_per_chunk(core, part, &lines) != EXR_ERR_SUCCESS || lines < 1)
    return "the rows of its chunks cannot be read";
  for (std::int64_t y = shape.Window.min.y; y <= shape.Window.max.y; y += lines) {
    const std::string refusal =
        refuse(exr_read_scanline_chunk_info(core, part, static_cast<int>(y), &chunk),
               "chunk of row " + std::to_string(y));
    if (!refusal.empty()) return refusal;
  }
  return {};
}

// The first chunk decoded by the core, which checks that it unpacks to
// the size the header gives: a data window made wider than the pixels stored
// would otherwise be read as the stored pixels spread over it, the rest zeros.
std::string RefuseFirstChunk(exr_const_context_t core, int part, const PartShape& shape,
                             CoreClient& client) {
  exr_chunk_info_t chunk{};
  exr_result_t result = shape.Storage == EXR_STORAGE_TILED
                            ? exr_read_tile_chunk_info(core, part, 0, 0, 0, 0, &chunk)
                            : exr_read_scanline_chunk_info(core, part, shape.Window.min.y, &chunk);
  exr_decode_pipeline_t decode{};
  if (result == EXR_ERR_SUCCESS) result = exr_decoding_initialize(core, part, &chunk, &decode);
  if (result == EXR_ERR_SUCCESS) result = exr_decoding_choose_default_routines(core, part, &decode);
  if (result == EXR_ERR_SUCCESS) result = exr_decoding_run(core, part, &decode);
  exr_decoding_destroy(core, &decode);
  // A compression the core does not decode is left to the C++ library.
  if (result == EXR_ERR_SUCCESS || result == EXR_ERR_FEATURE_NOT_IMPLEMENTED) return {};
  return "its first chunk does not decode to the pixels its header claims (" +
         CoreReason(result, client) + ")";
}

std::string RefusePart(exr_const_context_t core, int part, CoreClient& client,
                       const ReadLimits& limits) {
  PartShape shape;
  if (exr_get_storage(core, part, &shape.Storage) != EXR_ERR_SUCCESS ||
      exr_get_data_window(core, part, &shape.Window) != EXR_ERR_SUCCESS)
    return "the storage or data window of its colour part cannot be read";
  shape.Width = std::int64_t{shape.Window.max.x} - shape.Window.min.x + 1;
  shape.Height = std::int64_t{shape.Window.max.y} - shape.Window.min.y + 1;
  // The C++ library says what is wrong with an empty window itself.
  if (shape.Width <= 0 || shape.Height <= 0) return {};
  exr_tile_level_mode_t levels{};
  exr_tile_round_mode_t rounding{};
  if (shape.Storage == EXR_STORAGE_TILED &&
      (exr_get_tile_descriptor(core, part, &shape.TileWidth, &shape.TileHeight, &levels,
                               &rounding) != EXR_ERR_SUCCESS ||
       shape.TileWidth == 0 || shape.TileHeight == 0))
    return "the tile size of its colour part cannot be read";
  std::string refusal = RefuseBuffers(core, part, shape, limits);
  if (refusal.empty()) refusal = RefuseChunkTable(core, part, shape, client);
  if (refusal.empty()) refusal = RefuseFirstChunk(core, part, shape, client);
  return refusal;
}

// Why the sizes the headers give are refused, or nothing: sizes no part may
// have, and more chunks than the file can hold an offset for.
std::string RefuseHeaderSizes(exr_const_context_t core, int parts, std::uint64_t fileSize) {
  std::uint64_t chunks = 0;
  for (int part = 0; part < parts; ++part) {
    exr_attr_box2i_t window{};
    std::int32_t count = 0;
    if (exr_get_data_window(core, part, &window) != EXR_ERR_SUCCESS ||
        exr_get_chunk_count(core, part, &count) != EXR_ERR_SUCCESS || count < 0)
      return "the data window or the chunk count of part " + std::to_string(part + 1) +
             " cannot be read";
    const std::int64_t width = std::int64_t{window.max.x} - window.min.x + 1;
    const std::int64_t height = std::int64_t{window.max.y} - window.min.y + 1;
    if (width > 0 && height > 0 &&
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
            kMaxLibraryImagePixels)
      return "it has more than 2^31 pixels";
    exr_storage_t storage{};
    std::uint32_t tileWidth = 0, tileHeight = 0;
    exr_tile_level_mode_t levels{};
    exr_tile_round_mode_t rounding{};
    if (exr_get_storage(core, part, &storage) == EXR_ERR_SUCCESS &&
        (storage == EXR_STORAGE_TILED || storage == EXR_STORAGE_DEEP_TILED) &&
        exr_get_tile_descriptor(core, part, &tileWidth, &tileHeight, &levels, &rounding) ==
            EXR_ERR_SUCCESS &&
        std::uint64_t{tileWidth} * tileHeight > kMaxTilePixels)
      return "its tiles have more than 2^24 pixels";
    chunks += static_cast<std::uint64_t>(count);
  }
  // Every chunk has an 8-byte entry in the file's offset tables.
  if (chunks > fileSize / 8)
    return "its headers promise " + std::to_string(chunks) +
           " chunks of pixels, more than the file can hold";
  return {};
}

const std::string kUnreadable = "OpenEXR cannot read it: ";

// Why the file is refused, or nothing. The headers are read here first by
// the library's C core, which allocates only for the headers themselves and
// reads chunks one at a time, so that a forged header is refused before it
// can make the C++ library allocate a huge table or buffer.
std::string RefuseHeaders(ByteSource& bytes, const ReadLimits& limits, int& colourPart) {
  CoreClient client{&bytes, {}};
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.user_data = &client;
  init.read_fn = CoreRead;
  init.size_fn = CoreSize;
  init.error_handler_fn = CoreComplaint;
  exr_context_t raw = nullptr;
  const exr_result_t started = exr_start_read(&raw, "input", &init);
  const std::unique_ptr<std::remove_pointer_t<exr_context_t>, CoreDeleter> context(raw);
  // The core steps over a damaged attribute and goes on; the C++ library
  // would size a buffer from its size field (up to 2 GiB) instead.
  if (started != EXR_ERR_SUCCESS || !client.FirstError.empty())
    return kUnreadable + "its header is damaged (" + CoreReason(started, client) + ")";
  int parts = 0;
  if (exr_get_count(raw, &parts) != EXR_ERR_SUCCESS)
    return kUnreadable + "its parts cannot be counted";
  const std::string refusal = RefuseHeaderSizes(raw, parts, bytes.Size());
  if (!refusal.empty()) return kUnreadable + refusal;
  colourPart = ColourPart(raw, parts);
  return colourPart < 0 ? std::string() : RefusePart(raw, colourPart, client, limits);
}

}  // namespace

std::string RefuseExrFile(ByteSource& bytes, const ReadLimits& limits, int& part) {
  part = -1;
  const std::string refusal = RefuseAttributeSizes(bytes);
  if (!refusal.empty()) return kUnreadable + refusal;
  return RefuseHeaders(bytes, limits, part);
}

}  // namespace lumivane
