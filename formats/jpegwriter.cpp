#include "formats/jpegwriter.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <vector>

#include "formats/jpegerrors.h"
#include "formats/srgbprofile.h"
#include "io/binaryfile.h"

namespace lumivane {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

struct FileDestination {
  jpeg_destination_mgr Manager;
  BinaryFile* File;
  JpegErrors* Errors;
  JOCTET Buffer[kBufferBytes];
};

void StartDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<FileDestination*>(info->dest);
  destination->Manager.next_output_byte = destination->Buffer;
  destination->Manager.free_in_buffer = kBufferBytes;
}

void Put(j_compress_ptr info, std::size_t bytes) {
  auto* destination = reinterpret_cast<FileDestination*>(info->dest);
  if (!destination->File->Write(destination->Buffer, bytes)) {
    destination->Errors->Message = destination->File->ErrorText();
    ERREXIT(info, JERR_FILE_WRITE);
  }
}

boolean EmptyDestination(j_compress_ptr info) {
  Put(info, kBufferBytes);
  StartDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  Put(info, kBufferBytes - info->dest->free_in_buffer);
}

// A marker segment holds at most 65533 bytes after its length.
void WriteComment(j_compress_ptr info, const std::string& text) {
  if (text.empty()) return;
  const std::size_t length = std::min<std::size_t>(text.size(), 65533);
  jpeg_write_marker(info, JPEG_COM, reinterpret_cast<const JOCTET*>(text.data()),
                    static_cast<unsigned>(length));
}

class JpegSink final : public ByteRowSink {
 public:
  explicit JpegSink(BinaryFile& file) {
    info_.err = UseJpegErrors(errors_);
    destination_.File = &file;
    destination_.Errors = &errors_;
    destination_.Manager.init_destination = StartDestination;
    destination_.Manager.empty_output_buffer = EmptyDestination;
    destination_.Manager.term_destination = TermDestination;
  }
  ~JpegSink() override {
    if (created_) jpeg_destroy_compress(&info_);
  }
  JpegSink(const JpegSink&) = delete;
  JpegSink& operator=(const JpegSink&) = delete;

  bool Start(std::uint32_t width, std::uint32_t height, int quality, const JpegTexts& texts,
             std::string& error) {
    const std::vector<unsigned char>& profile = SrgbProfileBytes();
    if (profile.empty()) {
      error = "Little CMS could not make the sRGB profile";
      return false;
    }
    if (setjmp(errors_.Jump)) return Failed(error);
    jpeg_create_compress(&info_);
    created_ = true;
    info_.dest = &destination_.Manager;
    info_.image_width = width;
    info_.image_height = height;
    info_.input_components = 3;
    info_.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info_);
    jpeg_set_quality(&info_, quality, TRUE);
    jpeg_start_compress(&info_, TRUE);
    // The markers go between the frame header and the first row.
    jpeg_write_icc_profile(&info_, profile.data(), static_cast<unsigned>(profile.size()));
    WriteComment(&info_, texts.Software);
    WriteComment(&info_, texts.Description);
    return true;
  }

  bool WriteRows(const std::uint8_t* source, std::uint32_t rowCount, std::string& error) override {
    if (setjmp(errors_.Jump)) return Failed(error);
    const std::size_t rowBytes = std::size_t{info_.image_width} * 3;
    for (std::uint32_t y = 0; y < rowCount; ++y) {
      // libjpeg takes non-const rows but does not change them.
      JSAMPROW row = const_cast<JSAMPROW>(source + rowBytes * y);
      jpeg_write_scanlines(&info_, &row, 1);
    }
    return true;
  }

  bool Finish(std::string& error) override {
    if (setjmp(errors_.Jump)) return Failed(error);
    jpeg_finish_compress(&info_);
    return true;
  }

 private:
  bool Failed(std::string& error) {
    error = errors_.Message.empty() ? "libjpeg failed" : errors_.Message;
    return false;
  }

  jpeg_compress_struct info_{};
  JpegErrors errors_{};
  FileDestination destination_{};
  bool created_ = false;
};

}  // namespace

std::unique_ptr<ByteRowSink> OpenJpegSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, int quality, const JpegTexts& texts,
                                          std::string& error) {
  if (width == 0 || height == 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
    error = "a JPEG file holds at most 65500 x 65500 pixels";
    return nullptr;
  }
  auto sink = std::make_unique<JpegSink>(file);
  if (!sink->Start(width, height, quality, texts, error)) return nullptr;
  return sink;
}

}  // namespace lumivane
