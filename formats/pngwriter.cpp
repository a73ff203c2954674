#include "formats/pngwriter.h"

#include <png.h>

#include <csetjmp>

#include "io/binaryfile.h"

namespace lumivane {

namespace {

// libpng reports errors by a long jump back to the call that started the
// work; the message is kept for the caller.
struct PngState {
  BinaryFile* File = nullptr;
  std::string Error;
  bool WriteFailed = false;
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  if (state->Error.empty()) state->Error = message;
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void WriteToFile(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (!state->File->Write(data, length)) {
    state->WriteFailed = true;
    state->Error = state->File->ErrorText();
    png_error(png, "write failed");
  }
}

void FlushNothing(png_structp) {}

class PngSink final : public ByteRowSink {
 public:
  PngSink(BinaryFile& file, std::uint32_t width) : width_(width) { state_.File = &file; }
  ~PngSink() override { png_destroy_write_struct(&png_, &info_); }
  PngSink(const PngSink&) = delete;
  PngSink& operator=(const PngSink&) = delete;

  bool Start(std::uint32_t height, std::string& error) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state_, OnPngError, OnPngWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
      error = "libpng could not start a PNG";
      return false;
    }
    if (setjmp(png_jmpbuf(png_))) return Failed(error);
    png_set_write_fn(png_, &state_, WriteToFile, FlushNothing);
    // libpng's default limit of a million pixels a side is for reading.
    png_set_user_limits(png_, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_IHDR(png_, info_, width_, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
    return true;
  }

  bool WriteRows(const std::uint8_t* source, std::uint32_t rowCount, std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return Failed(error);
    const std::size_t rowBytes = std::size_t{width_} * 3;
    // libpng takes non-const rows but does not change them.
    for (std::uint32_t y = 0; y < rowCount; ++y)
      png_write_row(png_, const_cast<png_bytep>(source + rowBytes * y));
    return true;
  }

  bool Finish(std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return Failed(error);
    png_write_end(png_, info_);
    return true;
  }

 private:
  bool Failed(std::string& error) {
    error = state_.Error.empty() ? "libpng failed" : state_.Error;
    return false;
  }

  std::uint32_t width_;
  PngState state_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace

std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                                 std::uint32_t height, std::string& error) {
  // PNG sides are 31-bit numbers.
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
    error = "the image is too large or empty for a PNG file";
    return nullptr;
  }
  auto sink = std::make_unique<PngSink>(file, width);
  if (!sink->Start(height, error)) return nullptr;
  return sink;
}

}  // namespace lumivane
