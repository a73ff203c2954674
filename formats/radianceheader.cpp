#include "formats/radianceheader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <utility>

#include "formats/numbertext.h"

namespace lumivane {

namespace {

// The scan ends once the next line would start beyond this 1-based position.
constexpr std::size_t kLastScanPosition = 254;
constexpr std::string_view kSignature = "#?RADIANCE\n";

// The first 256 bytes of the file, addressed from 1 as the header rules count.
class HeaderBlock {
 public:
  explicit HeaderBlock(std::string bytes) : bytes_(std::move(bytes)) {}

  std::size_t Size() const { return bytes_.size(); }
  // 1-based position of `c` at or after `from`, 0 when there is none.
  std::size_t Find(char c, std::size_t from) const {
    if (from < 1 || from > bytes_.size()) return 0;
    const auto at = bytes_.find(c, from - 1);
    return at == std::string::npos ? 0 : at + 1;
  }
  std::size_t Find(std::string_view text, std::size_t from) const {
    if (from < 1 || from > bytes_.size()) return 0;
    const auto at = bytes_.find(text, from - 1);
    return at == std::string::npos ? 0 : at + 1;
  }
  // The bytes from position `first` up to, not including, position `end`.
  std::string Text(std::size_t first, std::size_t end) const {
    if (first < 1 || end <= first || first > bytes_.size()) return {};
    end = std::min(end, bytes_.size() + 1);
    return bytes_.substr(first - 1, end - first);
  }
  bool StartsWith(std::string_view prefix) const { return bytes_.starts_with(prefix); }

 private:
  std::string bytes_;
};

enum class LineKind { Format, Exposure, Height, Width, Other };

LineKind KindOf(std::string_view line) {
  if (line.starts_with("FOR")) return LineKind::Format;
  if (line.starts_with("EXP")) return LineKind::Exposure;
  if (line.starts_with("-Y ")) return LineKind::Height;
  if (line.starts_with("+X ")) return LineKind::Width;
  return LineKind::Other;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A size read from the header, rounded to the nearest whole number (halves to
// even). A value that no unsigned 32-bit size can hold reads as 0, which the
// size check refuses.
std::uint32_t SizeFromText(std::string_view text) {
  const long double value = std::nearbyint(ParseNumber(text));
  if (!(value >= 0 && value <= std::numeric_limits<std::uint32_t>::max())) return 0;
  return static_cast<std::uint32_t>(value);
}

// The text of a size field: from `first` up to `end`, but never past the LF
// that ends its line.
std::string SizeText(const HeaderBlock& block, std::size_t first, std::size_t end) {
  const std::size_t lineEnd = block.Find('\n', first);
  if (lineEnd != 0 && lineEnd < end) end = lineEnd;
  return block.Text(first, end);
}

struct ScanResult {
  bool Refused = false;  // a format line without "rle"
  bool Ended = true;     // false when the scan went round without progress
};

ScanResult ScanHeader(const HeaderBlock& block, RadianceHeader& header) {
  ScanResult result;
  const std::size_t last = block.Size();  // the position of the block's last byte
  std::size_t position = 1;
  int recognised = 0;
  // Every return to the top must bring a new recognised line, or the scan
  // would repeat the same pass for ever.
  int recognisedAtTop = -1;
  do {
    if (position == 1) {
      if (recognised == recognisedAtTop) {
        result.Ended = false;
        return result;
      }
      recognisedAtTop = recognised;
    }
    const std::size_t lineFeed = block.Find('\n', position);
    const std::string line = block.Text(position, lineFeed != 0 ? lineFeed : last);
    switch (KindOf(line)) {
      case LineKind::Format:
        ++recognised;
        if (LowerCase(line).find("rle") == std::string::npos) {
          result.Refused = true;
          return result;
        }
        position = lineFeed + 1;
        header.LogLines.push_back(line);
        break;
      case LineKind::Exposure: {
        ++recognised;
        const auto exposure =
            static_cast<float>(ParseNumber(line.size() > 9 ? line.substr(9) : ""));
        position = lineFeed + 1;
        header.LogLines.push_back("EXPOSURE =" + FormatNumber(exposure, 7));
        break;
      }
      case LineKind::Height:
      case LineKind::Width: {
        // A size field ends at the next space, wherever that is.
        const bool height = KindOf(line) == LineKind::Height;
        ++recognised;
        position += 3;
        const std::size_t space = block.Find(' ', position);
        std::optional<std::uint32_t>& size = height ? header.Height : header.Width;
        size = SizeFromText(SizeText(block, position, space != 0 ? space : last));
        position = space + 1;
        header.LogLines.push_back((height ? "Image Length =" : "Image Width =") +
                                  FormatNumber(*size, 15));
        break;
      }
      case LineKind::Other:
        position = lineFeed + 1;
        header.LogLines.push_back(line);
        break;
    }
  } while (recognised != 4 && position <= kLastScanPosition);
  return result;
}

}  // namespace

RadianceHeader ParseRadianceHeader(std::string_view bytes, const std::string& fileName) {
  RadianceHeader header;
  const HeaderBlock block(std::string(bytes.substr(0, kRadianceHeaderBlock)));
  const auto fail = [&](std::string text) {
    header.Failure = std::move(text);
    return header;
  };
  const std::string notRadiance = fileName + " is not a Radiance file";
  if (!block.StartsWith(kSignature)) return fail(notRadiance);

  const ScanResult scan = ScanHeader(block, header);
  if (scan.Refused) return fail(fileName + " is not a compressed Radiance file");
  // Sizes left over from an earlier file must not be taken for this one's.
  if (!scan.Ended || !header.Height || !header.Width) return fail(notRadiance);
  const std::uint64_t pixels = std::uint64_t{*header.Width} * *header.Height;
  if (pixels == 0 || pixels > std::numeric_limits<std::uint32_t>::max()) {
    return fail(fileName + " has an image size that cannot be handled");
  }

  // The pixel data start behind the LF that ends the resolution line.
  const std::size_t resolution = block.Find("X ", 1);
  const std::size_t lineFeed = block.Find('\n', resolution + 1);
  if (lineFeed == 0) return fail(notRadiance);
  // 1-based position of the LF: the 0-based offset of the byte after it.
  header.DataStart = lineFeed;
  return header;
}

}  // namespace lumivane
