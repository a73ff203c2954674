#include "formats/exrrows.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfTileDescription.h>
#include <OpenEXR/openexr.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <type_traits>

#include "formats/numbertext.h"

namespace lumivane {

namespace {

// The library reads through this, so that it sees the already opened file or bytes.
class SourceStream : public Imf::IStream {
 public:
  explicit SourceStream(ByteSource& bytes) : Imf::IStream("input"), bytes_(bytes) {}

  bool read(char c[], int n) override {
    if (n < 0) throw std::runtime_error("a negative read length");
    const std::size_t got = bytes_.ReadAt(c, static_cast<std::size_t>(n), position_);
    position_ += got;
    if (got < static_cast<std::size_t>(n)) throw std::runtime_error("the file ends early");
    return position_ < bytes_.Size();
  }
  std::uint64_t tellg() override { return position_; }
  void seekg(std::uint64_t position) override { position_ = position; }

 private:
  ByteSource& bytes_;
  std::uint64_t position_ = 0;
};

const char* CompressionName(Imf::Compression compression) {
  static const char* const kNames[] = {"none",  "RLE", "ZIPS", "ZIP",  "PIZ",
                                       "PXR24", "B44", "B44A", "DWAA", "DWAB"};
  const auto index = static_cast<std::size_t>(compression);
  return index < std::size(kNames) ? kNames[index] : "unknown";
}

const char* PixelTypeName(Imf::PixelType type) {
  switch (type) {
    case Imf::HALF:
      return "half";
    case Imf::FLOAT:
      return "float";
    case Imf::UINT:
      return "uint";
    default:
      return "unknown";
  }
}

bool HasColour(const Imf::Header& header) {
  if (header.hasType() && Imf::isDeepData(header.type())) return false;
  const Imf::ChannelList& channels = header.channels();
  return channels.findChannel("R") || channels.findChannel("G") || channels.findChannel("B") ||
         channels.findChannel("Y");
}

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

// Why the headers are refused, or nothing. The C++ library sizes its chunk
// tables, tile buffers and unknown attributes from the headers as it opens a
// file, before any pixel is read; the headers are read here first by the library's C core,
// which allocates only for the headers themselves, so that a forged one is
// refused before it can make the C++ library allocate a huge table.
std::string RefuseHeaders(ByteSource& bytes) {
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
    return "its header is damaged (" +
           (client.FirstError.empty() ? std::string(exr_get_default_error_message(started))
                                      : client.FirstError) +
           ")";
  int parts = 0;
  if (exr_get_count(raw, &parts) != EXR_ERR_SUCCESS) return "its parts cannot be counted";
  std::uint64_t chunks = 0;
  for (int part = 0; part < parts; ++part) {
    exr_attr_box2i_t window{};
    std::int32_t count = 0;
    if (exr_get_data_window(raw, part, &window) != EXR_ERR_SUCCESS ||
        exr_get_chunk_count(raw, part, &count) != EXR_ERR_SUCCESS || count < 0)
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
    if (exr_get_storage(raw, part, &storage) == EXR_ERR_SUCCESS &&
        (storage == EXR_STORAGE_TILED || storage == EXR_STORAGE_DEEP_TILED) &&
        exr_get_tile_descriptor(raw, part, &tileWidth, &tileHeight, &levels, &rounding) ==
            EXR_ERR_SUCCESS &&
        std::uint64_t{tileWidth} * tileHeight > kMaxTilePixels)
      return "its tiles have more than 2^24 pixels";
    chunks += static_cast<std::uint64_t>(count);
  }
  // Every chunk has an 8-byte entry in the file's offset tables.
  if (chunks > bytes.Size() / 8)
    return "its headers promise " + std::to_string(chunks) +
           " chunks of pixels, more than the file can hold";
  return {};
}

class ExrRows : public PositionedRowSource {
 public:
  ExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads)
      : bytes_(std::move(bytes)),
        stream_(*bytes_),
        file_(stream_, threads > 1 ? static_cast<int>(threads) : 0) {
    for (int index = 0; index < file_.parts(); ++index) {
      if (HasColour(file_.header(index))) {
        partIndex_ = index;
        break;
      }
    }
    if (partIndex_ < 0) throw std::runtime_error("it has no part with R, G, B or Y channels");
    const Imf::Header& header = file_.header(partIndex_);
    window_ = header.dataWindow();
    const std::int64_t width = std::int64_t{window_.max.x} - window_.min.x + 1;
    const std::int64_t height = std::int64_t{window_.max.y} - window_.min.y + 1;
    if (width <= 0 || height <= 0) throw std::runtime_error("its data window is empty");
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
        kMaxLibraryImagePixels)
      throw std::runtime_error("it has more than 2^31 pixels");
    const Imf::ChannelList& channels = header.channels();
    grey_ = !channels.findChannel("R") && !channels.findChannel("G") && !channels.findChannel("B");
    for (const char* name : {"R", "G", "B", "Y"}) {
      const Imf::Channel* channel = channels.findChannel(name);
      // Subsampled colour channels (only chroma may be) are not read.
      if (channel && (channel->xSampling != 1 || channel->ySampling != 1))
        throw std::runtime_error(std::string("its ") + name + " channel is subsampled");
    }
    part_ = std::make_unique<Imf::InputPart>(file_, partIndex_);
    Describe(header, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    const std::uint32_t width = description_.Width;
    if (!failure_.empty()) {
      error = failure_;
      return false;
    }
    if (rowCount == 0) return true;
    if (rowCount > description_.Height - nextRow_) {
      error = "it holds fewer rows than asked for";
      return false;
    }
    const int first = window_.min.y + static_cast<int>(nextRow_);
    const int last = first + static_cast<int>(rowCount) - 1;
    const Imath::Box2i block(Imath::V2i(window_.min.x, first), Imath::V2i(window_.max.x, last));
    const std::size_t xStride = 3 * sizeof(float);
    const std::size_t yStride = xStride * width;
    try {
      Imf::FrameBuffer frame;
      if (grey_) {
        frame.insert("Y", Imf::Slice::Make(Imf::FLOAT, destination, block, xStride, yStride));
      } else {
        const char* names[] = {"R", "G", "B"};
        for (int c = 0; c < 3; ++c)
          frame.insert(names[c],
                       Imf::Slice::Make(Imf::FLOAT, destination + c, block, xStride, yStride));
      }
      part_->setFrameBuffer(frame);
      part_->readPixels(first, last);
    } catch (const std::exception& failure) {
      error = std::string("OpenEXR could not decode its pixels (") + failure.what() + ")";
      failure_ = error;
      return false;
    }
    if (grey_) {
      float* pixel = destination;
      for (std::size_t i = 0; i < std::size_t{rowCount} * width; ++i, pixel += 3)
        pixel[1] = pixel[2] = pixel[0];
    }
    nextRow_ += rowCount;
    return true;
  }

 private:
  void Describe(const Imf::Header& header, std::uint32_t width, std::uint32_t height) {
    description_.FormatName = "EXR";
    description_.Width = width;
    description_.Height = height;
    auto& lines = description_.HeaderLines;
    lines.push_back("Image Width:" + FormatNumber(width, 15));
    lines.push_back("Image Length:" + FormatNumber(height, 15));
    lines.push_back("Data window from" + FormatNumber(std::int32_t{window_.min.x}, 15) + "," +
                    FormatNumber(std::int32_t{window_.min.y}, 15) + " to" +
                    FormatNumber(std::int32_t{window_.max.x}, 15) + "," +
                    FormatNumber(std::int32_t{window_.max.y}, 15));
    lines.push_back("Part:" + FormatNumber(std::int32_t{partIndex_ + 1}, 15) + " of" +
                    FormatNumber(std::int32_t{file_.parts()}, 15));
    lines.push_back(std::string("Compression: ") + CompressionName(header.compression()));
    lines.push_back(header.hasTileDescription()
                        ? "Tiles:" + FormatNumber(header.tileDescription().xSize, 15) + " x" +
                              FormatNumber(header.tileDescription().ySize, 15)
                        : std::string("Scanlines"));
    std::string channels = "Channels:";
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
      channels += std::string(" ") + it.name() + " (" + PixelTypeName(it.channel().type) + ")";
    lines.push_back(channels);
    if (grey_) lines.push_back("Colours: grey (Y), given to R, G and B");
  }

  std::unique_ptr<ByteSource> bytes_;
  SourceStream stream_;
  Imf::MultiPartInputFile file_;
  int partIndex_ = -1;
  std::unique_ptr<Imf::InputPart> part_;
  Imath::Box2i window_;
  bool grey_ = false;
  ImageDescription description_;
  // After an exception the part keeps half-read tiles cached, and a later
  // read of the same rows may pass over them: a file that failed once fails
  // for good, so that both passes of a job see the same file.
  std::string failure_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenExrRows(std::unique_ptr<ByteSource> bytes,
                                                    unsigned threads, std::string& error) {
  std::uint8_t magic[4] = {};
  if (bytes->ReadAt(magic, 4, 0) != 4 || !std::equal(magic, magic + 4, kExrMagic)) {
    error = "it is not an OpenEXR file (it does not start with the OpenEXR magic number)";
    return nullptr;
  }
  std::string refusal = RefuseAttributeSizes(*bytes);
  if (refusal.empty()) refusal = RefuseHeaders(*bytes);
  if (!refusal.empty()) {
    error = "OpenEXR cannot read it: " + refusal;
    return nullptr;
  }
  if (threads > 1 && Imf::globalThreadCount() < static_cast<int>(threads))
    Imf::setGlobalThreadCount(static_cast<int>(threads));
  try {
    return std::make_unique<ExrRows>(std::move(bytes), threads);
  } catch (const std::exception& failure) {
    error = std::string("OpenEXR cannot read it: ") + failure.what();
  }
  return nullptr;
}

}  // namespace lumivane
