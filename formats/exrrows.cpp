#include "formats/exrrows.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfTileDescription.h>

#include <algorithm>
#include <array>
#include <exception>
#include <new>
#include <stdexcept>

#include "formats/exrchecks.h"
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

class ExrRows : public PositionedRowSource {
 public:
  // `partIndex`: the part with colour, as the checks before found it.
  ExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads, int partIndex)
      : bytes_(std::move(bytes)),
        stream_(*bytes_),
        file_(stream_, threads > 1 ? static_cast<int>(threads) : 0),
        partIndex_(partIndex) {
    if (partIndex_ < 0 || partIndex_ >= file_.parts())
      throw std::runtime_error("it has no part with R, G, B or Y channels");
    // The library rebuilds a damaged chunk table as far as it can and reads
    // what it did not find as zeros.
    if (!file_.partComplete(partIndex_))
      throw std::runtime_error("it is not complete: its chunk table does not find every chunk");
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
    return Read(destination, nullptr, rowCount, error);
  }

  bool ReadsAlpha() const override { return alpha_; }

  bool ReadRowsAndAlpha(float* destination, float* alpha, std::uint32_t rowCount,
                        std::string& error) override {
    if (alpha_) return Read(destination, alpha, rowCount, error);
    error = "it has no alpha channel";
    return false;
  }

 private:
  // The rows, and their A channel into `alpha` unless it is null.
  bool Read(float* destination, float* alpha, std::uint32_t rowCount, std::string& error) {
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
      if (alpha)
        frame.insert(
            "A", Imf::Slice::Make(Imf::FLOAT, alpha, block, sizeof(float), sizeof(float) * width));
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
    KeepMetadata(header);
  }

  // The standard attributes that still mean something once the pixels are
  // elsewhere, and what an OpenEXR output needs to store them as they were.
  void KeepMetadata(const Imf::Header& header) {
    ImageMetadata& kept = description_.Metadata;
    if (Imf::hasChromaticities(header)) {
      const Imf::Chromaticities& c = Imf::chromaticities(header);
      kept.Primaries = Chromaticities{
          {c.red.x, c.red.y}, {c.green.x, c.green.y}, {c.blue.x, c.blue.y}, {c.white.x, c.white.y}};
    }
    if (Imf::hasWhiteLuminance(header)) kept.WhiteLuminance = Imf::whiteLuminance(header);
    if (Imf::hasOwner(header)) kept.Owner = Imf::owner(header);
    if (Imf::hasComments(header)) kept.Comments = Imf::comments(header);
    if (Imf::hasCapDate(header)) kept.CaptureDate = Imf::capDate(header);
    if (Imf::hasExpTime(header)) kept.ExposureTime = Imf::expTime(header);
    // Outputs place the data window's top left corner at 0, 0.
    const Imath::Box2i& display = header.displayWindow();
    if (display != window_)
      kept.DisplayWindow =
          std::array<int, 4>{display.min.x - window_.min.x, display.min.y - window_.min.y,
                             display.max.x - window_.min.x, display.max.y - window_.min.y};
    const Imf::ChannelList& channels = header.channels();
    // A missing colour channel reads as zeros, which a half holds as well.
    const auto half = [&channels](const char* name) {
      const Imf::Channel* channel = channels.findChannel(name);
      return !channel || channel->type == Imf::HALF;
    };
    kept.HalfFloats = grey_ ? half("Y") : half("R") && half("G") && half("B");
    kept.ExrCompression = static_cast<int>(header.compression());
    const Imf::Channel* alpha = channels.findChannel("A");
    kept.HasAlpha = alpha != nullptr;
    kept.AlphaHalf = alpha && alpha->type == Imf::HALF;
    // A subsampled alpha has no value for every pixel: it stays behind.
    alpha_ = alpha && alpha->xSampling == 1 && alpha->ySampling == 1;
  }

  std::unique_ptr<ByteSource> bytes_;
  SourceStream stream_;
  Imf::MultiPartInputFile file_;
  int partIndex_ = -1;
  std::unique_ptr<Imf::InputPart> part_;
  Imath::Box2i window_;
  bool grey_ = false;
  bool alpha_ = false;  // an A channel of a value for each pixel
  ImageDescription description_;
  // After an exception the part keeps half-read tiles cached, and a later
  // read of the same rows may pass over them: a file that failed once fails
  // for good, so that both passes of a job see the same file.
  std::string failure_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                            const ReadLimits& limits, std::string& error) {
  std::uint8_t magic[4] = {};
  if (bytes->ReadAt(magic, 4, 0) != 4 || !std::equal(magic, magic + 4, kExrMagic)) {
    error = "it is not an OpenEXR file (it does not start with the OpenEXR magic number)";
    return nullptr;
  }
  int part = -1;
  error = RefuseExrFile(*bytes, limits, part);
  if (!error.empty()) return nullptr;
  if (threads > 1 && Imf::globalThreadCount() < static_cast<int>(threads))
    Imf::setGlobalThreadCount(static_cast<int>(threads));
  try {
    return std::make_unique<ExrRows>(std::move(bytes), threads, part);
  } catch (const std::bad_alloc&) {
    error = "OpenEXR cannot read it: not enough memory for its tables and buffers";
  } catch (const std::exception& failure) {
    error = std::string("OpenEXR cannot read it: ") + failure.what();
  }
  return nullptr;
}

}  // namespace lumivane
