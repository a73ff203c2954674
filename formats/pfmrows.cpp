#include "formats/pfmrows.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "formats/numbertext.h"

namespace lumivane {

namespace {

// Headers are short; a comment block longer than this is no PFM worth reading.
constexpr std::size_t kHeaderLimit = 4096;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct PfmHeader {
  bool Grey = false;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  float Scale = 0.0f;
  std::uint64_t DataStart = 0;
  std::vector<std::string> Comments;
};

class HeaderScanner {
 public:
  explicit HeaderScanner(std::string_view text) : text_(text) {}

  // The next word, past blanks and `#` comments (kept); nothing at the end.
  std::optional<std::string_view> NextWord(std::vector<std::string>& comments) {
    for (;;) {
      while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
      if (at_ >= text_.size()) return std::nullopt;
      if (text_[at_] != '#') break;
      const std::size_t end = std::min(text_.find('\n', at_), text_.size());
      std::string comment(text_.substr(at_ + 1, end - at_ - 1));
      while (!comment.empty() && IsBlank(comment.back())) comment.pop_back();
      while (!comment.empty() && IsBlank(comment.front())) comment.erase(comment.begin());
      comments.push_back(comment);
      at_ = end;
    }
    const std::size_t start = at_;
    while (at_ < text_.size() && !IsBlank(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }
  std::size_t Position() const { return at_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

std::optional<std::uint32_t> ParseSide(std::string_view word) {
  std::uint32_t value = 0;
  const auto [end, failure] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (failure != std::errc() || end != word.data() + word.size() || value == 0) return std::nullopt;
  return value;
}

// The header, or nothing with `error` set.
std::optional<PfmHeader> ParseHeader(std::string_view text, std::string& error) {
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  if (text.size() < 3 || lower(text[0]) != 'p' || lower(text[1]) != 'f' || !IsBlank(text[2])) {
    error = "it is not a Portable Floatmap file (it does not start with PF or Pf)";
    return std::nullopt;
  }
  PfmHeader header;
  // Only "Pf" is grey: every other spelling is a colour file, as the classic reader reads it.
  header.Grey = text[0] == 'P' && text[1] == 'f';
  HeaderScanner scanner(text.substr(2));
  const auto width = scanner.NextWord(header.Comments);
  const auto height = scanner.NextWord(header.Comments);
  const auto scale = scanner.NextWord(header.Comments);
  const std::size_t lineEnd = text.find('\n', 2 + scanner.Position());
  if (!scale || lineEnd == std::string_view::npos) {
    error = "its header (width, height and scale) is incomplete";
    return std::nullopt;
  }
  const auto w = ParseSide(*width), h = ParseSide(*height);
  if (!w || !h) {
    error = "its width or height is not a whole number from 1 to 4294967295";
    return std::nullopt;
  }
  const std::string scaleText(*scale);
  char* end = nullptr;
  const double value = std::strtod(scaleText.c_str(), &end);
  if (end != scaleText.c_str() + scaleText.size() || !std::isfinite(value)) {
    error = "its scale '" + scaleText + "' is not a number";
    return std::nullopt;
  }
  header.Width = *w;
  header.Height = *h;
  header.Scale = static_cast<float>(value);
  header.DataStart = lineEnd + 1;
  return header;
}

class PfmRows : public PositionedRowSource {
 public:
  PfmRows(std::unique_ptr<ByteSource> bytes, const PfmHeader& header)
      : bytes_(std::move(bytes)), header_(header), channels_(header.Grey ? 1 : 3) {
    description_.FormatName = "PFM";
    description_.Width = header.Width;
    description_.Height = header.Height;
    auto& lines = description_.HeaderLines;
    for (const std::string& comment : header.Comments) lines.push_back("Comment: " + comment);
    lines.push_back("Image Width:" + FormatNumber(header.Width, 15));
    lines.push_back("Image Length:" + FormatNumber(header.Height, 15));
    lines.push_back("Exposition Scale:" + FormatNumber(header.Scale, 7));
    lines.push_back(header.Grey ? "Channels: 1 (grey, given to R, G and B)" : "Channels: 3 (RGB)");
  }

  const ImageDescription& Description() const override { return description_; }

  bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) override {
    if (rowCount > header_.Height - nextRow_) {
      error = "it holds fewer rows than asked for";
      return false;
    }
    const std::size_t rowValues = std::size_t{header_.Width} * channels_;
    const std::size_t rowBytes = rowValues * 4;
    // The block's rows lie stored bottom first, just below the rows already read.
    const std::uint32_t lowestStored = header_.Height - nextRow_ - rowCount;
    block_.resize(rowBytes * rowCount);
    const std::uint64_t offset = header_.DataStart + std::uint64_t{lowestStored} * rowBytes;
    if (bytes_->ReadAt(block_.data(), block_.size(), offset) != block_.size()) {
      error = "it is shorter than its header promises";
      return false;
    }
    const bool swap = (header_.Scale < 0) != (std::endian::native == std::endian::little);
    for (std::uint32_t i = 0; i < rowCount; ++i) {
      const std::uint8_t* stored = block_.data() + std::size_t{rowCount - 1 - i} * rowBytes;
      float* out = destination + std::size_t{i} * header_.Width * 3;
      for (std::size_t v = 0; v < rowValues; ++v) {
        std::uint32_t bits;
        std::memcpy(&bits, stored + 4 * v, 4);
        if (swap) bits = __builtin_bswap32(bits);
        const float value = std::bit_cast<float>(bits);
        if (channels_ == 3) {
          out[v] = value;
        } else {
          out[3 * v] = out[3 * v + 1] = out[3 * v + 2] = value;
        }
      }
    }
    nextRow_ += rowCount;
    return true;
  }

 private:
  std::unique_ptr<ByteSource> bytes_;
  PfmHeader header_;
  unsigned channels_;
  ImageDescription description_;
  std::vector<std::uint8_t> block_;
};

}  // namespace

std::unique_ptr<ImageRowSource> OpenPfmRows(std::unique_ptr<ByteSource> bytes,
                                            const ReadLimits& limits, std::string& error) {
  std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(bytes->Size(), kHeaderLimit)),
                   '\0');
  head.resize(bytes->ReadAt(head.data(), head.size(), 0));
  const std::optional<PfmHeader> header = ParseHeader(head, error);
  if (!header) return nullptr;
  const std::uint64_t pixels = std::uint64_t{header->Width} * header->Height;
  if (pixels > kMaxLibraryImagePixels) {
    error = "it has more than 2^31 pixels";
    return nullptr;
  }
  error = RefuseImageSize(header->Width, header->Height, limits);
  if (!error.empty()) return nullptr;
  const std::uint64_t dataBytes = pixels * (header->Grey ? 1 : 3) * 4;
  if (bytes->Size() < header->DataStart + dataBytes) {
    error = "it is shorter than its header promises";
    return nullptr;
  }
  return std::make_unique<PfmRows>(std::move(bytes), *header);
}

bool NeedsGeneralPfmReader(std::string_view head) {
  if (head.size() < 3) return false;
  if ((head[0] == 'P' && head[1] == 'f') || head[2] != '\n') return true;
  std::vector<std::string> comments;
  HeaderScanner scanner(head.substr(2));
  for (int word = 0; word < 3; ++word) scanner.NextWord(comments);
  return !comments.empty();
}

}  // namespace lumivane
