#include "formats/exrwriter.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <half.h>

#include <Iex.h>
#include <algorithm>
#include <exception>
#include <vector>

#include "io/binaryfile.h"

namespace lumivane {

namespace {

// In the order of the library's compression numbers.
constexpr std::string_view kCompressionNames[] = {"none",  "rle", "zips", "zip",  "piz",
                                                  "pxr24", "b44", "b44a", "dwaa", "dwab"};

// The library's output stream over our file. The library writes the line
// offset table last, seeking back to it, and reports no error from its
// destructor: a failed write is remembered here.
class FileStream final : public Imf::OStream {
 public:
  explicit FileStream(BinaryFile& file) : Imf::OStream("output"), file_(file) {
    start_ = file.Position();
  }

  void write(const char data[], int count) override {
    if (count <= 0) return;
    if (!file_.WriteAt(data, static_cast<std::size_t>(count), start_ + position_)) {
      if (error_.empty()) error_ = file_.ErrorText();
      throw Iex::IoExc(error_);
    }
    position_ += static_cast<std::uint64_t>(count);
    written_ = std::max(written_, position_);
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t position) override { position_ = position; }

  const std::string& Error() const { return error_; }
  // Leaves the file's position behind the bytes written.
  bool End() {
    if (!error_.empty()) return false;
    if (file_.Seek(start_ + written_)) return true;
    error_ = file_.ErrorText();
    return false;
  }

 private:
  BinaryFile& file_;
  std::uint64_t start_ = 0;
  std::uint64_t position_ = 0;
  std::uint64_t written_ = 0;
  std::string error_;
};

void AddStandardAttributes(Imf::Header& header, const ImageMetadata& kept) {
  if (const auto& c = kept.Primaries)
    Imf::addChromaticities(
        header, Imf::Chromaticities({c->Red[0], c->Red[1]}, {c->Green[0], c->Green[1]},
                                    {c->Blue[0], c->Blue[1]}, {c->White[0], c->White[1]}));
  if (kept.WhiteLuminance) Imf::addWhiteLuminance(header, *kept.WhiteLuminance);
  if (!kept.Owner.empty()) Imf::addOwner(header, kept.Owner);
  if (!kept.Comments.empty()) Imf::addComments(header, kept.Comments);
  if (!kept.CaptureDate.empty()) Imf::addCapDate(header, kept.CaptureDate);
  if (kept.ExposureTime) Imf::addExpTime(header, *kept.ExposureTime);
  if (const auto& box = kept.DisplayWindow)
    header.displayWindow() = Imath::Box2i({(*box)[0], (*box)[1]}, {(*box)[2], (*box)[3]});
}

class ExrSink final : public FloatRowSink {
 public:
  ExrSink(BinaryFile& file, std::uint32_t width, bool alpha)
      : stream_(file), width_(width), alpha_(alpha) {}

  bool Start(std::uint32_t height, const ExrOptions& options, const ImageMetadata& kept) {
    Imf::Header header(static_cast<int>(width_), static_cast<int>(height));
    header.compression() = static_cast<Imf::Compression>(ExrCompressionFor(options, kept, alpha_));
    half_ = ExrWritesHalves(options, kept);
    const Imf::PixelType type = half_ ? Imf::HALF : Imf::FLOAT;
    for (const char* name : {"R", "G", "B"}) header.channels().insert(name, Imf::Channel(type));
    halfAlpha_ = ExrWritesHalfAlpha(options, kept);
    if (alpha_) header.channels().insert("A", Imf::Channel(halfAlpha_ ? Imf::HALF : Imf::FLOAT));
    AddStandardAttributes(header, kept);
    output_ = std::make_unique<Imf::OutputFile>(stream_, header, static_cast<int>(options.Threads));
    return true;
  }

  bool TakesAlpha() const override { return alpha_; }

  bool WriteRows(const float* source, std::uint32_t rowCount, std::string& error) override {
    return Write(source, nullptr, rowCount, error);
  }

  bool WriteRowsAndAlpha(const float* source, const float* alpha, std::uint32_t rowCount,
                         std::string& error) override {
    return Write(source, alpha, rowCount, error);
  }

  bool Finish(std::string& error) override {
    return Guarded(error, [&] { output_.reset(); }) && Guarded(error, [&] { stream_.End(); });
  }

  template <typename Work>
  bool Guarded(std::string& error, Work work) {
    try {
      work();
      if (stream_.Error().empty()) return true;
      error = stream_.Error();
      return false;
    } catch (const std::exception& failure) {
      // A failed write says what the system said; anything else, the library.
      error = !stream_.Error().empty() ? stream_.Error()
              : *failure.what()        ? failure.what()
                                       : "the OpenEXR library gave up without a reason";
      return false;
    }
  }

 private:
  // An A channel left without a slice would be written as zeros: a sink
  // that keeps alpha takes it with every row.
  bool Write(const float* source, const float* alpha, std::uint32_t rowCount, std::string& error) {
    if (alpha_ && !alpha) {
      error = "the rows came without their alpha";
      return false;
    }
    return Guarded(error, [&] {
      // The library writes half channels from half slices only.
      const void* data = source;
      std::size_t pixel = 3 * sizeof(float);
      if (half_) {
        halves_.resize(std::size_t{width_} * 3 * rowCount);
        for (std::size_t i = 0; i < halves_.size(); ++i) halves_[i] = Imath::half(source[i]);
        data = halves_.data();
        pixel = 3 * sizeof(Imath::half);
      }
      // The rows' slices start at the image row they hold.
      const Imath::V2i origin(0, static_cast<int>(next_));
      Imf::FrameBuffer frame;
      for (int c = 0; c < 3; ++c) {
        frame.insert(c == 0   ? "R"
                     : c == 1 ? "G"
                              : "B",
                     Imf::Slice::Make(half_ ? Imf::HALF : Imf::FLOAT,
                                      static_cast<const char*>(data) + c * pixel / 3, origin,
                                      width_, rowCount, pixel, pixel * width_));
      }
      if (alpha_) frame.insert("A", AlphaSlice(alpha, origin, rowCount));
      output_->setFrameBuffer(frame);
      output_->writePixels(static_cast<int>(rowCount));
      next_ += rowCount;
    });
  }

  Imf::Slice AlphaSlice(const float* alpha, const Imath::V2i& origin, std::uint32_t rowCount) {
    if (!halfAlpha_)
      return Imf::Slice::Make(Imf::FLOAT, alpha, origin, width_, rowCount, sizeof(float),
                              sizeof(float) * width_);
    alphaHalves_.resize(std::size_t{width_} * rowCount);
    for (std::size_t i = 0; i < alphaHalves_.size(); ++i) alphaHalves_[i] = Imath::half(alpha[i]);
    return Imf::Slice::Make(Imf::HALF, alphaHalves_.data(), origin, width_, rowCount,
                            sizeof(Imath::half), sizeof(Imath::half) * width_);
  }

  FileStream stream_;
  std::uint32_t width_;
  std::uint32_t next_ = 0;
  bool half_ = false;
  bool alpha_ = false;
  bool halfAlpha_ = false;
  std::vector<Imath::half> halves_;
  std::vector<Imath::half> alphaHalves_;
  std::unique_ptr<Imf::OutputFile> output_;
};

}  // namespace

std::unique_ptr<FloatRowSink> OpenExrSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, const ExrOptions& options,
                                          const ImageMetadata& kept, bool alpha,
                                          std::string& error) {
  // The library counts pixels in int.
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
    error = "the image is too large or empty for an OpenEXR file";
    return nullptr;
  }
  // The library writes the table of chunk offsets last, going back to where it
  // belongs: a pipe, FIFO or terminal cannot be gone back in.
  if (!file.Seek(file.Position())) {
    error =
        "an OpenEXR file is written by going back to its table of offsets at the end, "
        "which this output cannot do (" +
        file.ErrorText() + ")";
    return nullptr;
  }
  auto sink = std::make_unique<ExrSink>(file, width, alpha);
  bool started = false;
  if (!sink->Guarded(error, [&] { started = sink->Start(height, options, kept); }) || !started)
    return nullptr;
  return sink;
}

bool ExrWritesHalves(const ExrOptions& options, const ImageMetadata& kept) {
  return options.Half.value_or(kept.HalfFloats);
}

bool ExrWritesHalfAlpha(const ExrOptions& options, const ImageMetadata& kept) {
  return options.Half.value_or(kept.AlphaHalf);
}

int ExrCompressionFor(const ExrOptions& options, const ImageMetadata& kept, bool alpha) {
  if (options.Compression) return *options.Compression;
  // A conversion keeps every value: an input's lossy compression is not
  // applied again. PXR24 loses nothing on halves, B44 and DWA always may.
  const int input = kept.ExrCompression;
  const bool halves =
      ExrWritesHalves(options, kept) && (!alpha || ExrWritesHalfAlpha(options, kept));
  const bool lossless = (input >= Imf::NO_COMPRESSION && input <= Imf::PIZ_COMPRESSION) ||
                        (input == Imf::PXR24_COMPRESSION && halves);
  return lossless ? input : Imf::ZIP_COMPRESSION;
}

std::optional<int> ExrCompressionFromName(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kCompressionNames); ++i)
    if (kCompressionNames[i] == name) return static_cast<int>(i);
  return std::nullopt;
}

std::string ExrCompressionNames() {
  std::string names;
  for (const std::string_view name : kCompressionNames) {
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names;
}

}  // namespace lumivane
