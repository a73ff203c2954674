#include "formats/pngwriter.h"

#include <png.h>

#include <bit>
#include <csetjmp>
#include <optional>
#include <utility>
#include <vector>

#include "formats/latin1.h"
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

// A text in the chunk that holds it as it is: ASCII and the UTF-8 of Latin-1
// characters in tEXt (as Latin-1), any other UTF-8 in iTXt, which says UTF-8.
// Bytes that are not UTF-8 go in tEXt as they are. A longer text goes in
// compressed (zTXt, or iTXt compressed).
struct TextChunk {
  const char* Key;
  std::string Bytes;
  bool International;
};

TextChunk ChunkOf(const char* key, const std::string& value) {
  if (std::optional<std::string> latin1 = Utf8ToLatin1(value)) return {key, *latin1, false};
  return {key, value, IsUtf8(value)};
}

void SetText(png_structp png, png_infop info, const PngTexts& texts) {
  const std::pair<const char*, const std::string*> entries[] = {
      {"Software", &texts.Software}, {"Description", &texts.Description}};
  std::vector<TextChunk> kept;
  for (const auto& [key, value] : entries)
    if (!value->empty()) kept.push_back(ChunkOf(key, *value));
  std::vector<png_text> chunks;
  for (TextChunk& text : kept) {
    png_text chunk{};
    const bool compressed = text.Bytes.size() > 1000;
    chunk.compression = text.International
                            ? (compressed ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE)
                            : (compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE);
    chunk.key = const_cast<png_charp>(text.Key);
    chunk.text = text.Bytes.data();
    chunk.text_length = text.Bytes.size();
    chunks.push_back(chunk);
  }
  if (!chunks.empty()) png_set_text(png, info, chunks.data(), static_cast<int>(chunks.size()));
}

// One sink for both depths: 8-bit rows as bytes, 16-bit rows as words in
// this machine's order, which libpng swaps to the file's big-endian order.
class PngSink final : public ByteRowSink, public WordRowSink {
 public:
  PngSink(BinaryFile& file, std::uint32_t width, int depth, bool alpha)
      : width_(width), depth_(depth), samples_(alpha ? 4 : 3) {
    state_.File = &file;
  }
  ~PngSink() override { png_destroy_write_struct(&png_, &info_); }
  PngSink(const PngSink&) = delete;
  PngSink& operator=(const PngSink&) = delete;

  bool Start(std::uint32_t height, const PngTexts& texts, std::string& error) {
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
    png_set_IHDR(png_, info_, width_, height, depth_,
                 samples_ == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The pixels are sRGB-encoded; gAMA and cHRM are for readers without sRGB.
    png_set_sRGB_gAMA_and_cHRM(png_, info_, PNG_sRGB_INTENT_PERCEPTUAL);
    SetText(png_, info_, texts);
    png_write_info(png_, info_);
    if (depth_ == 16 && std::endian::native == std::endian::little) png_set_swap(png_);
    return true;
  }

  bool WriteRows(const std::uint16_t* source, std::uint32_t rowCount, std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return Failed(error);
    const std::size_t rowWords = std::size_t{width_} * samples_;
    for (std::uint32_t y = 0; y < rowCount; ++y)
      png_write_row(png_,
                    reinterpret_cast<png_bytep>(const_cast<std::uint16_t*>(source + rowWords * y)));
    return true;
  }

  bool WriteRows(const std::uint8_t* source, std::uint32_t rowCount, std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return Failed(error);
    const std::size_t rowBytes = std::size_t{width_} * samples_;
    // libpng takes non-const rows but does not change them.
    for (std::uint32_t y = 0; y < rowCount; ++y)
      png_write_row(png_, const_cast<png_bytep>(source + rowBytes * y));
    return true;
  }

  bool TakesAlpha() const override { return samples_ == 4; }

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
  int depth_;
  int samples_;  // R G B, and straight alpha when four
  PngState state_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace

namespace {

std::unique_ptr<PngSink> OpenSink(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                  int depth, const PngTexts& texts, bool alpha,
                                  std::string& error) {
  // PNG sides are 31-bit numbers.
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
    error = "the image is too large or empty for a PNG file";
    return nullptr;
  }
  auto sink = std::make_unique<PngSink>(file, width, depth, alpha);
  if (!sink->Start(height, texts, error)) return nullptr;
  return sink;
}

}  // namespace

std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, const PngTexts& texts, bool alpha,
                                         std::string& error) {
  return OpenSink(file, width, height, 8, texts, alpha, error);
}

std::unique_ptr<WordRowSink> OpenPng16Sink(BinaryFile& file, std::uint32_t width,
                                           std::uint32_t height, const PngTexts& texts, bool alpha,
                                           std::string& error) {
  return OpenSink(file, width, height, 16, texts, alpha, error);
}

}  // namespace lumivane
