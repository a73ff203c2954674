#include "formats/tiffwordwriter.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "formats/srgbprofile.h"
#include "formats/tiffclient.h"
#include "io/binaryfile.h"

namespace lumivane {

namespace {

// libtiff writes through this: offsets are from where the TIFF starts in the file.
struct WriteClient {
  BinaryFile* File = nullptr;
  std::uint64_t Base = 0;
  std::string FirstError;
};

tmsize_t ClientRead(thandle_t, void*, tmsize_t) {
  return 0;
}

tmsize_t ClientWrite(thandle_t handle, void* source, tmsize_t count) {
  auto* client = static_cast<WriteClient*>(handle);
  if (count <= 0) return 0;
  if (!client->File->Write(source, static_cast<std::size_t>(count))) {
    if (client->FirstError.empty()) client->FirstError = client->File->ErrorText();
    return -1;
  }
  return count;
}

toff_t ClientSeek(thandle_t handle, toff_t offset, int whence) {
  auto* client = static_cast<WriteClient*>(handle);
  std::uint64_t base = client->Base;
  if (whence == SEEK_CUR) base = client->File->Position();
  if (whence == SEEK_END) base = client->File->Size().value_or(client->Base);
  if (!client->File->Seek(base + offset)) return static_cast<toff_t>(-1);
  return client->File->Position() - client->Base;
}

toff_t ClientSize(thandle_t handle) {
  auto* client = static_cast<WriteClient*>(handle);
  return client->File->Size().value_or(client->Base) - client->Base;
}

// A TIFF written a scanline at a time through libtiff into our file.
class LibraryTiff {
 public:
  explicit LibraryTiff(BinaryFile& file) {
    client_.File = &file;
    client_.Base = file.Position();
  }
  ~LibraryTiff() {
    if (tiff_) TIFFClose(tiff_);
  }
  LibraryTiff(const LibraryTiff&) = delete;
  LibraryTiff& operator=(const LibraryTiff&) = delete;

  TIFF* Open() {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffclient::KeepError<WriteClient>, &client_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffclient::DropWarning, &client_);
    // "m": never map the file.
    tiff_ = TIFFClientOpenExt("output", "wm", &client_, ClientRead, ClientWrite, ClientSeek,
                              tiffclient::Close, ClientSize, tiffclient::Map, tiffclient::Unmap,
                              options);
    TIFFOpenOptionsFree(options);
    return tiff_;
  }

  // Writes `row` (which the predictor may change) as image row `y`.
  bool WriteRow(void* row, std::uint32_t y, std::string& error) {
    return TIFFWriteScanline(tiff_, row, y, 0) >= 0 || Failed(error);
  }

  bool Finish(std::string& error) {
    const bool flushed = TIFFFlush(tiff_) == 1;
    TIFFClose(tiff_);
    tiff_ = nullptr;
    if (!flushed || !client_.FirstError.empty()) return Failed(error);
    return true;
  }

  bool Failed(std::string& error) const {
    error = client_.FirstError.empty() ? "libtiff failed" : client_.FirstError;
    return false;
  }

 private:
  WriteClient client_;
  TIFF* tiff_ = nullptr;
};

// 8- or 16-bit levels, R G B and straight alpha where asked, tagged sRGB.
template <typename Sample, typename Interface>
class TiffLevelSink final : public Interface {
 public:
  TiffLevelSink(BinaryFile& file, std::uint32_t width, bool alpha)
      : width_(width),
        samples_(alpha ? 4 : 3),
        row_(std::size_t{width} * samples_),
        output_(file) {}

  bool Start(std::uint32_t height, const TiffTexts& texts, std::string& error) {
    tiff_ = output_.Open();
    if (!tiff_ || !SetTags(height, texts)) return output_.Failed(error);
    return true;
  }

  bool WriteRows(const Sample* source, std::uint32_t rowCount, std::string& error) override {
    for (std::uint32_t y = 0; y < rowCount; ++y, ++nextRow_) {
      // The predictor changes the row it is given in place.
      const Sample* from = source + row_.size() * y;
      row_.assign(from, from + row_.size());
      if (!output_.WriteRow(row_.data(), nextRow_, error)) return false;
    }
    return true;
  }

  bool TakesAlpha() const override { return samples_ == 4; }
  bool Finish(std::string& error) override { return output_.Finish(error); }

 private:
  bool SetTags(std::uint32_t height, const TiffTexts& texts) {
    const bool deflate = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) != 0;
    const std::uint16_t straight[] = {EXTRASAMPLE_UNASSALPHA};
    bool set = TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, width_) &&
               TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, height) &&
               TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, samples_) &&
               TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 8 * sizeof(Sample)) &&
               TIFFSetField(tiff_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
               TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
               TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
               TIFFSetField(tiff_, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
               TIFFSetField(tiff_, TIFFTAG_COMPRESSION,
                            deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    if (set && samples_ == 4) set = TIFFSetField(tiff_, TIFFTAG_EXTRASAMPLES, 1, straight);
    // Differences of neighbours compress far better than the levels.
    if (set && deflate) set = TIFFSetField(tiff_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    // Strips of about 64 KiB keep memory a few rows whatever the height.
    if (set) set = TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff_, 0));
    const std::vector<unsigned char>& profile = SrgbProfileBytes();
    if (set && !profile.empty())
      set = TIFFSetField(tiff_, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()),
                         profile.data());
    if (set && !texts.Software.empty())
      set = TIFFSetField(tiff_, TIFFTAG_SOFTWARE, texts.Software.c_str());
    if (set && !texts.Description.empty())
      set = TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, texts.Description.c_str());
    return set;
  }

  std::uint32_t width_;
  int samples_;
  std::vector<Sample> row_;
  std::uint32_t nextRow_ = 0;
  LibraryTiff output_;
  TIFF* tiff_ = nullptr;
};

// What the input said of itself that a TIFF has tags for: the primaries and
// white point, the owner, the comments and the capture date.
bool SetKeptTags(TIFF* tiff, const ImageMetadata& kept) {
  bool set = true;
  if (const std::optional<Chromaticities>& c = kept.Primaries) {
    float white[2] = {c->White[0], c->White[1]};
    float primaries[6] = {c->Red[0], c->Red[1], c->Green[0], c->Green[1], c->Blue[0], c->Blue[1]};
    set = TIFFSetField(tiff, TIFFTAG_WHITEPOINT, white) &&
          TIFFSetField(tiff, TIFFTAG_PRIMARYCHROMATICITIES, primaries);
  }
  if (set && !kept.Owner.empty()) set = TIFFSetField(tiff, TIFFTAG_ARTIST, kept.Owner.c_str());
  if (set && !kept.Comments.empty())
    set = TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, kept.Comments.c_str());
  // TIFF's date has OpenEXR's form, "YYYY:MM:DD hh:mm:ss", and no other.
  if (set && kept.CaptureDate.size() == 19)
    set = TIFFSetField(tiff, TIFFTAG_DATETIME, kept.CaptureDate.c_str());
  return set;
}

// R, G, B and alpha as 32-bit floats, uncompressed, as the 96-bit TIFF holds
// R, G and B.
class TiffFloatAlphaSink final : public FloatRowSink {
 public:
  TiffFloatAlphaSink(BinaryFile& file, std::uint32_t width)
      : width_(width), row_(std::size_t{width} * 4), output_(file) {}

  bool Start(std::uint32_t height, const ImageMetadata& kept, std::string& error) {
    TIFF* tiff = output_.Open();
    const std::uint16_t kind[] = {kept.AlphaAssociated ? std::uint16_t{EXTRASAMPLE_ASSOCALPHA}
                                                       : std::uint16_t{EXTRASAMPLE_UNASSALPHA}};
    const bool set = tiff && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width_) &&
                     TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
                     TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4) &&
                     TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 32) &&
                     TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) &&
                     TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
                     TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, kind) &&
                     TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                     TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                     TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
                     TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0)) &&
                     SetKeptTags(tiff, kept);
    return set || output_.Failed(error);
  }

  bool TakesAlpha() const override { return true; }

  bool WriteRows(const float*, std::uint32_t, std::string& error) override {
    error = "the rows came without their alpha";
    return false;
  }

  bool WriteRowsAndAlpha(const float* source, const float* alpha, std::uint32_t rowCount,
                         std::string& error) override {
    for (std::uint32_t y = 0; y < rowCount; ++y, ++nextRow_) {
      const float* rgb = source + std::size_t{width_} * 3 * y;
      const float* a = alpha + std::size_t{width_} * y;
      for (std::uint32_t x = 0; x < width_; ++x) {
        std::copy(rgb + 3 * x, rgb + 3 * x + 3, row_.begin() + 4 * x);
        row_[4 * x + 3] = a[x];
      }
      if (!output_.WriteRow(row_.data(), nextRow_, error)) return false;
    }
    return true;
  }

  bool Finish(std::string& error) override { return output_.Finish(error); }

 private:
  std::uint32_t width_;
  std::vector<float> row_;
  std::uint32_t nextRow_ = 0;
  LibraryTiff output_;
};

// libtiff goes back to the header for the directory's offset: a pipe cannot.
bool WritableAsTiff(BinaryFile& file, std::uint32_t width, std::uint32_t height, const char* what,
                    std::string& error) {
  if (width == 0 || height == 0) {
    error = "the image is empty";
    return false;
  }
  if (file.IsRegularFile()) return true;
  error = std::string(what) + " is written to a file, not to a pipe or a device";
  return false;
}

template <typename Sample, typename Interface>
std::unique_ptr<Interface> OpenLevelSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, const TiffTexts& texts, bool alpha,
                                         std::string& error) {
  if (!WritableAsTiff(file, width, height, "a TIFF through libtiff", error)) return nullptr;
  auto sink = std::make_unique<TiffLevelSink<Sample, Interface>>(file, width, alpha);
  if (!sink->Start(height, texts, error)) return nullptr;
  return sink;
}

}  // namespace

std::unique_ptr<WordRowSink> OpenTiff48Sink(BinaryFile& file, std::uint32_t width,
                                            std::uint32_t height, const TiffTexts& texts,
                                            bool alpha, std::string& error) {
  return OpenLevelSink<std::uint16_t, WordRowSink>(file, width, height, texts, alpha, error);
}

std::unique_ptr<ByteRowSink> OpenTiffLevelSink(BinaryFile& file, std::uint32_t width,
                                               std::uint32_t height, const TiffTexts& texts,
                                               bool alpha, std::string& error) {
  return OpenLevelSink<std::uint8_t, ByteRowSink>(file, width, height, texts, alpha, error);
}

std::unique_ptr<FloatRowSink> OpenTiffFloatAlphaSink(BinaryFile& file, std::uint32_t width,
                                                     std::uint32_t height,
                                                     const ImageMetadata& kept,
                                                     std::string& error) {
  if (!WritableAsTiff(file, width, height, "a float TIFF with alpha", error)) return nullptr;
  auto sink = std::make_unique<TiffFloatAlphaSink>(file, width);
  if (!sink->Start(height, kept, error)) return nullptr;
  return sink;
}

}  // namespace lumivane
