#include "formats/tiffwordwriter.h"

#include <tiffio.h>

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

class Tiff48Sink final : public WordRowSink {
 public:
  Tiff48Sink(BinaryFile& file, std::uint32_t width) : width_(width), row_(std::size_t{width} * 3) {
    client_.File = &file;
    client_.Base = file.Position();
  }
  ~Tiff48Sink() override {
    if (tiff_) TIFFClose(tiff_);
  }
  Tiff48Sink(const Tiff48Sink&) = delete;
  Tiff48Sink& operator=(const Tiff48Sink&) = delete;

  bool Start(std::uint32_t height, const TiffTexts& texts, std::string& error) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return Failed(error);
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffclient::KeepError<WriteClient>, &client_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffclient::DropWarning, &client_);
    // "m": never map the file.
    tiff_ = TIFFClientOpenExt("output", "wm", &client_, ClientRead, ClientWrite, ClientSeek,
                              tiffclient::Close, ClientSize, tiffclient::Map, tiffclient::Unmap,
                              options);
    TIFFOpenOptionsFree(options);
    if (!tiff_ || !SetTags(height, texts)) return Failed(error);
    return true;
  }

  bool WriteRows(const std::uint16_t* source, std::uint32_t rowCount, std::string& error) override {
    for (std::uint32_t y = 0; y < rowCount; ++y, ++nextRow_) {
      // The predictor changes the row it is given in place.
      const std::uint16_t* from = source + row_.size() * y;
      row_.assign(from, from + row_.size());
      if (TIFFWriteScanline(tiff_, row_.data(), nextRow_, 0) < 0) return Failed(error);
    }
    return true;
  }

  bool Finish(std::string& error) override {
    const bool flushed = TIFFFlush(tiff_) == 1;
    TIFFClose(tiff_);
    tiff_ = nullptr;
    if (!flushed || !client_.FirstError.empty()) return Failed(error);
    return true;
  }

 private:
  bool SetTags(std::uint32_t height, const TiffTexts& texts) {
    const bool deflate = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) != 0;
    bool set = TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, width_) &&
               TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, height) &&
               TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, 3) &&
               TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 16) &&
               TIFFSetField(tiff_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
               TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
               TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
               TIFFSetField(tiff_, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
               TIFFSetField(tiff_, TIFFTAG_COMPRESSION,
                            deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    // Differences of neighbours compress far better than 16-bit levels.
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

  bool Failed(std::string& error) {
    error = client_.FirstError.empty() ? "libtiff failed" : client_.FirstError;
    return false;
  }

  std::uint32_t width_;
  std::vector<std::uint16_t> row_;
  std::uint32_t nextRow_ = 0;
  WriteClient client_;
  TIFF* tiff_ = nullptr;
};

}  // namespace

std::unique_ptr<WordRowSink> OpenTiff48Sink(BinaryFile& file, std::uint32_t width,
                                            std::uint32_t height, const TiffTexts& texts,
                                            std::string& error) {
  if (width == 0 || height == 0) {
    error = "the image is empty";
    return nullptr;
  }
  if (!file.IsRegularFile()) {
    error = "a 16-bit TIFF is written to a file, not to a pipe or a device";
    return nullptr;
  }
  auto sink = std::make_unique<Tiff48Sink>(file, width);
  if (!sink->Start(height, texts, error)) return nullptr;
  return sink;
}

}  // namespace lumivane
