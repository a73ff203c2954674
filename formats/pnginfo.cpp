#include "formats/pnginfo.h"

#include <png.h>

#include <csetjmp>

#include "formats/latin1.h"

namespace lumivane {

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// What a header may make libpng hold: a chunk of at most 1 MiB (a text, the
// expanded profile), at most 64 texts and unknown chunks kept. Our outputs
// need a few hundred bytes.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{1} << 20;
constexpr png_uint_32 kMaxChunksKept = 64;

struct ReadState {
  ByteSource* Bytes = nullptr;
  std::uint64_t Offset = 0;
  std::string Error;
};

void OnError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
  if (state->Error.empty()) state->Error = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromSource(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
  const std::size_t got = state->Bytes->ReadAt(data, length, state->Offset);
  state->Offset += got;
  if (got != length) png_error(png, "the file ends within its header");
}

const char* ColourTypeName(int type) {
  switch (type) {
    case PNG_COLOR_TYPE_GRAY:
      return "grey";
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return "grey with alpha";
    case PNG_COLOR_TYPE_PALETTE:
      return "palette";
    case PNG_COLOR_TYPE_RGB:
      return "RGB";
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return "RGB with alpha";
    default:
      return "unknown";
  }
}

const char* IntentName(int intent) {
  constexpr const char* kNames[] = {"perceptual", "relative colorimetric", "saturation",
                                    "absolute colorimetric"};
  return intent >= 0 && intent < 4 ? kNames[intent] : "unknown intent";
}

PngText TextOf(const png_text& chunk) {
  PngText text;
  const bool international = chunk.compression == PNG_ITXT_COMPRESSION_NONE ||
                             chunk.compression == PNG_ITXT_COMPRESSION_zTXt;
  text.Chunk = international                                    ? "iTXt"
               : chunk.compression == PNG_TEXT_COMPRESSION_zTXt ? "zTXt"
                                                                : "tEXt";
  text.Keyword = Latin1ToUtf8(chunk.key ? chunk.key : "");
  const std::string_view value(chunk.text ? chunk.text : "",
                               international ? chunk.itxt_length : chunk.text_length);
  text.Text = international ? std::string(value) : Latin1ToUtf8(value);
  if (international && chunk.lang) text.Language = chunk.lang;
  return text;
}

void DescribeColour(png_structp png, png_infop info, PngDescription& description) {
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) description.SrgbIntent = IntentName(intent);
  double gamma = 0.0;
  if (png_get_gAMA(png, info, &gamma)) description.Gamma = gamma;
  PngChromaticities c{};
  if (png_get_cHRM(png, info, &c.White[0], &c.White[1], &c.Red[0], &c.Red[1], &c.Green[0],
                   &c.Green[1], &c.Blue[0], &c.Blue[1]))
    description.Chromaticities = c;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
    description.IccProfileName = Latin1ToUtf8(name ? name : "");
}

// What libpng holds, after a header read whole or in part.
void Describe(png_structp png, png_infop info, PngDescription& description) {
  description.Width = png_get_image_width(png, info);
  description.Height = png_get_image_height(png, info);
  description.BitDepth = png_get_bit_depth(png, info);
  description.ColourType = ColourTypeName(png_get_color_type(png, info));
  description.Interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  DescribeColour(png, info, description);
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) description.Texts.push_back(TextOf(texts[i]));
}

// No object with a destructor lives in this frame: libpng may jump out of it.
bool ReadHeader(png_structp png, png_infop info, ReadState& state) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &state, ReadFromSource);
  // Only the header is read: no row is allocated whatever the sides.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, kMaxChunksKept);
  png_read_info(png, info);
  return true;
}

}  // namespace

bool IsPngSignature(std::string_view firstBytes) {
  return firstBytes.starts_with(
      std::string_view(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature));
}

PngDescription DescribePng(ByteSource& bytes) {
  PngDescription description;
  ReadState state;
  state.Bytes = &bytes;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    description.Failure = "libpng could not start reading";
  } else {
    if (!ReadHeader(png, info, state))
      description.Failure = state.Error.empty() ? "libpng failed" : state.Error;
    Describe(png, info, description);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return description;
}

}  // namespace lumivane
