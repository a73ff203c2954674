#include "formats/tiffheader.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/floatimage.h"
#include "formats/numbertext.h"

namespace lumivane {

std::uint16_t ReadTiffShort(const std::uint8_t* bytes, bool intelOrder) {
  return intelOrder ? static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0])
                    : static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t ReadTiffLong(const std::uint8_t* bytes, bool intelOrder) {
  const std::uint32_t s1 = ReadTiffShort(bytes, intelOrder);
  const std::uint32_t s2 = ReadTiffShort(bytes + 2, intelOrder);
  return intelOrder ? s2 << 16 | s1 : s1 << 16 | s2;
}

namespace {

constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kLongType = 4;

struct IfdEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint32_t Count = 0;
  const std::uint8_t* Value = nullptr;  // the 4-byte value field
};

// A strip table: StripOffsets or StripByteCounts with a count above 1. A table
// that fits the 4-byte value field (two SHORTs) stands in the field itself.
struct StripTable {
  std::uint16_t Type = 0;
  std::uint32_t Count = 0;
  std::uint32_t Offset = 0;
  std::array<std::uint8_t, 4> Field{};

  std::size_t ValueBytes() const { return Type == kShortType ? 2 : 4; }
  bool InField() const { return std::uint64_t{Count} * ValueBytes() <= Field.size(); }
};

StripTable MakeStripTable(const IfdEntry& entry, bool intelOrder) {
  StripTable table{entry.Type, entry.Count, ReadTiffLong(entry.Value, intelOrder), {}};
  std::copy(entry.Value, entry.Value + table.Field.size(), table.Field.begin());
  return table;
}

// The tags that are only named in the log.
constexpr std::pair<std::uint16_t, const char*> kNamedTags[] = {
    {254, " NewSubfile"},    {262, " PhotometricInterpretation"},
    {274, " Orientation"},   {282, " XResolution"},
    {283, " YResolution"},   {305, " Software"},
    {306, " Date Time"},     {315, " Artist"},
    {316, " Host Computer"}, {338, " Extra Samples"},
};

class TiffHeaderScanner {
 public:
  TiffHeaderScanner(ByteSource& file, const std::string& fileName, std::uint32_t width,
                    std::uint32_t height)
      : file_(file), fileName_(fileName), fileSize_(file.Size()), width_(width), height_(height) {}

  TiffHeader Run(std::span<const std::uint8_t> head);

 private:
  // The reader's own refusal: the box's text and title, and the line logged instead.
  bool Refuse(const std::string& box, const std::string& title, const std::string& logLine) {
    result_.Failure = box;
    result_.FailureTitle = title;
    result_.FailureLogLine = logLine;
    return false;
  }
  // A layout this reader does not take (compressed, tiled, other samples):
  // the library's reader may.
  bool RefuseLayout(const std::string& box, const std::string& title, const std::string& logLine) {
    result_.OtherLayout = true;
    return Refuse(box, title, logLine);
  }
  // A file that does not hold what its header points to.
  bool RefuseDamaged(const std::string& what) {
    return Refuse(fileName_ + " " + what, kTiffFileIssueTitle, "");
  }
  bool ReadAt(std::uint64_t offset, void* destination, std::size_t count) {
    if (offset + count > fileSize_) return false;
    return file_.ReadAt(destination, count, offset) == count;
  }
  void Log(std::string line) { result_.LogLines.push_back(std::move(line)); }
  // The first SHORT at the offset in the value field.
  std::optional<std::uint16_t> FetchShort(const IfdEntry& entry) {
    std::uint8_t bytes[2];
    if (!ReadAt(ReadTiffLong(entry.Value, intel_), bytes, 2)) return std::nullopt;
    return ReadTiffShort(bytes, intel_);
  }
  void LogEntry(const IfdEntry& entry, const std::string& text) {
    Log(FormatNumber(std::uint32_t{entry.Tag}, 15) + text);
  }
  static std::string Number(std::uint32_t value) { return FormatNumber(value, 15); }
  // A tag whose value is logged and must be `expected`.
  bool Require(const IfdEntry& entry, const char* label, std::uint32_t expected, const char* box) {
    LogEntry(entry, label + Number(entryValue_));
    if (entryValue_ == expected) return true;
    return RefuseLayout(box, "LUMIVANE - Tag issue.",
                        "Interpreting tags, expecting " + std::to_string(expected) + ".");
  }

  bool HandleEntry(const IfdEntry& entry);
  bool HandleBitsPerSample(const IfdEntry& entry);
  bool HandleStripOffsets(const IfdEntry& entry, std::uint32_t asLong);
  bool HandleSampleFormat(const IfdEntry& entry);
  std::optional<std::uint32_t> TableValue(const StripTable& table, std::uint32_t index);
  // Values [first, first + count) of a table, read in one call.
  bool TableValues(const StripTable& table, std::uint32_t first, std::uint32_t count,
                   std::uint32_t* values);
  bool ReadIfd(std::uint32_t ifdOffset);
  bool CheckStrips();
  bool CheckSize();

  ByteSource& file_;
  const std::string& fileName_;
  const std::uint64_t fileSize_;
  std::uint32_t width_;
  std::uint32_t height_;
  TiffHeader result_;
  bool intel_ = false;
  std::uint32_t entryValue_ = 0;
  std::uint32_t dataStart_ = 0;
  std::optional<StripTable> stripOffsets_;
  std::optional<StripTable> stripByteCounts_;
};

bool TiffHeaderScanner::HandleBitsPerSample(const IfdEntry& entry) {
  LogEntry(entry, " BitsPerSample =" + Number(entry.Count));
  if (entry.Count != 3)
    return RefuseLayout("Tag 258 issue: not 3 values.", "LUMIVANE - Tag issue.",
                        "Interpreting IFD tags, expecting 3.");
  const auto bits = FetchShort(entry);
  if (!bits) return RefuseDamaged("has its BitsPerSample values outside the file.");
  if (*bits != 32)
    return RefuseLayout(
        "Tag 258 issue: not 32 bit per colour.", "LUMIVANE - Tag issue.",
        "Interpreting IFD tags, expecting 32 but got" + Number(*bits) + " bits instead.");
  Log(" --> 96-bit per pixel source file.");
  return true;
}

// With several strips the value field points to the table of strip offsets.
bool TiffHeaderScanner::HandleStripOffsets(const IfdEntry& entry, std::uint32_t asLong) {
  LogEntry(entry, " StripOffset (DataStart) =" + Number(asLong));
  stripOffsets_.reset();
  dataStart_ = asLong;
  if (entry.Count > 1) {
    stripOffsets_ = MakeStripTable(entry, intel_);
    if (entry.Type != kShortType && entry.Type != kLongType)
      return RefuseDamaged("has a StripOffsets table of an unknown field type.");
    const auto first = TableValue(*stripOffsets_, 0);
    if (!first) return RefuseDamaged("has its strip offsets outside the file.");
    dataStart_ = *first;
  }
  return true;
}

bool TiffHeaderScanner::HandleSampleFormat(const IfdEntry& entry) {
  const auto format = FetchShort(entry);
  if (!format) return RefuseDamaged("has its SampleFormat values outside the file.");
  if (*format != 3) {
    LogEntry(entry, " Sample Format = Undefined or unknown. Cannot interpret data.");
    return RefuseLayout("Tag 339 issue: sample format unknown.", "LUMIVANE - Tag issue.", "");
  }
  LogEntry(entry, " Sample Format = IEEE floating point.");
  return true;
}

bool TiffHeaderScanner::HandleEntry(const IfdEntry& entry) {
  const std::uint32_t asLong = ReadTiffLong(entry.Value, intel_);
  switch (entry.Tag) {
    case 256:
      width_ = entryValue_;
      result_.Width = width_;
      LogEntry(entry, " ImageWidth =" + Number(entryValue_));
      return true;
    case 257:
      height_ = entryValue_;
      result_.Height = height_;
      LogEntry(entry, " ImageLength =" + Number(entryValue_));
      return true;
    case 258:
      return HandleBitsPerSample(entry);
    case 259: {
      const std::uint32_t compression =
          entry.Type == kShortType ? ReadTiffShort(entry.Value, intel_) : asLong;
      LogEntry(entry, " Compression =" + Number(compression));
      if (compression != 1)
        return RefuseLayout("Tag 259 issue: has data compression.", kTiffFileIssueTitle,
                            "Interpreting tags, expecting 1.");
      return true;
    }
    case 273:
      return HandleStripOffsets(entry, asLong);
    case 277:
      return Require(entry, " SamplesPerPixel =", 3, "Tag 277 issue: not 3 bytes.");
    case 278:
      LogEntry(entry, " RowsPerStrip =" + Number(asLong));
      return true;
    case 279:
      LogEntry(entry, " StripByteCounts:" + Number(asLong) + " bytes");
      stripByteCounts_.reset();
      if (entry.Count > 1) stripByteCounts_ = MakeStripTable(entry, intel_);
      return true;
    case 284:
      return Require(entry, " PlanarConfiguration =", 1, "Tag 284 issue: planes, not triplets.");
    case 296:
      LogEntry(entry, " ResolutionUnit =" + Number(asLong));
      return true;
    case 339:
      return HandleSampleFormat(entry);
    case 322:
    case 323:
    case 324:
    case 325:
      // Tiles have no StripOffsets: mapped from the data start, the IFD and
      // the tiles' order would be taken for pixels.
      LogEntry(entry, " Not needed");
      return RefuseLayout(
          fileName_ +
              " is a tiled TIFF; this reader reads strips only. Tiled TIFFs are read "
              "by the general reader (drop the file onto the window, or use "
              "lumivane-cli tonemap).",
          kTiffFileIssueTitle, "");
    default: {
      const auto* named = std::find_if(std::begin(kNamedTags), std::end(kNamedTags),
                                       [&](const auto& tag) { return tag.first == entry.Tag; });
      LogEntry(entry, named != std::end(kNamedTags) ? named->second : " Not needed");
      return true;
    }
  }
}

std::optional<std::uint32_t> TiffHeaderScanner::TableValue(const StripTable& table,
                                                           std::uint32_t index) {
  const std::size_t width = table.ValueBytes();
  std::uint8_t bytes[4];
  if (table.InField()) {
    if (index >= table.Count) return std::nullopt;
    std::copy_n(table.Field.begin() + index * width, width, bytes);
  } else if (!ReadAt(table.Offset + std::uint64_t{index} * width, bytes, width)) {
    return std::nullopt;
  }
  return width == 2 ? ReadTiffShort(bytes, intel_) : ReadTiffLong(bytes, intel_);
}

bool TiffHeaderScanner::TableValues(const StripTable& table, std::uint32_t first,
                                    std::uint32_t count, std::uint32_t* values) {
  if (table.InField()) {
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto value = TableValue(table, first + i);
      if (!value) return false;
      values[i] = *value;
    }
    return true;
  }
  const std::size_t width = table.ValueBytes();
  std::vector<std::uint8_t> bytes(std::size_t{count} * width);
  if (!ReadAt(table.Offset + std::uint64_t{first} * width, bytes.data(), bytes.size()))
    return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* at = bytes.data() + std::size_t{i} * width;
    values[i] = width == 2 ? ReadTiffShort(at, intel_) : ReadTiffLong(at, intel_);
  }
  return true;
}

// Several strips are read as one when each begins where the one before ends.
bool TiffHeaderScanner::CheckStrips() {
  if (!stripOffsets_) return true;
  const StripTable offsets = *stripOffsets_;
  if (!stripByteCounts_ || stripByteCounts_->Count != offsets.Count ||
      (stripByteCounts_->Type != kShortType && stripByteCounts_->Type != kLongType))
    return RefuseDamaged("has several strips but no matching StripByteCounts table.");
  const StripTable counts = *stripByteCounts_;
  const std::uint64_t tableBytes = std::uint64_t{offsets.Count} * offsets.ValueBytes();
  if (!offsets.InField() && offsets.Offset + tableBytes > fileSize_)
    return RefuseDamaged("has its strip offsets outside the file.");
  std::uint64_t expected = dataStart_;
  // A value at a time would cost system calls by the million for a table
  // that a small file can hold.
  constexpr std::uint32_t kChunk = 16384;
  std::vector<std::uint32_t> offsetValues(std::min(kChunk, offsets.Count));
  std::vector<std::uint32_t> countValues(offsetValues.size());
  for (std::uint32_t first = 0; first < offsets.Count; first += kChunk) {
    const std::uint32_t chunk = std::min(kChunk, offsets.Count - first);
    if (!TableValues(offsets, first, chunk, offsetValues.data()) ||
        !TableValues(counts, first, chunk, countValues.data()))
      return RefuseDamaged("has its strip tables outside the file.");
    for (std::uint32_t i = 0; i < chunk; ++i) {
      if (offsetValues[i] != expected) {
        result_.OtherLayout = true;
        return RefuseDamaged(
            "has strips that do not follow each other in row order; such files cannot be read.");
      }
      expected += countValues[i];
    }
  }
  return true;
}

TiffHeader TiffHeaderScanner::Run(std::span<const std::uint8_t> head) {
  if (head.size() >= 2 && head[0] == 'I' && head[1] == 'I') {
    intel_ = true;
    result_.IntelOrder = true;
  } else if (!(head.size() >= 2 && head[0] == 'M' && head[1] == 'M')) {
    Refuse("Not a TIFF file.", "LUMIVANE - File|Open", "STOP - No Job!");
    return result_;
  }
  if (head.size() < kTiffHeadBytes) {
    RefuseDamaged("ends inside its TIFF header.");
    return result_;
  }
  Log("TIFF Version (usually 42):" + Number(ReadTiffShort(head.data() + 2, intel_)));
  const std::uint32_t ifdOffset = ReadTiffLong(head.data() + 4, intel_);
  Log("IFD start address:" + Number(ifdOffset));
  if (ReadIfd(ifdOffset) && CheckStrips() && CheckSize()) {
    result_.DataStart = dataStart_;
    Log("DONE reading and interpreting IFD.");
  }
  return result_;
}

bool TiffHeaderScanner::ReadIfd(std::uint32_t ifdOffset) {
  std::uint8_t countBytes[2];
  if (!ReadAt(ifdOffset, countBytes, 2))
    return RefuseDamaged("has its IFD start address outside the file.");
  const std::uint16_t entries = ReadTiffShort(countBytes, intel_);
  Log("Number of tags:" + Number(entries));
  std::vector<std::uint8_t> ifd(std::size_t{entries} * 12);
  if (!ReadAt(ifdOffset + 2, ifd.data(), ifd.size())) return RefuseDamaged("ends inside its IFD.");

  for (std::size_t i = 0; i < entries; ++i) {
    const std::uint8_t* raw = ifd.data() + i * 12;
    IfdEntry entry{ReadTiffShort(raw, intel_), ReadTiffShort(raw + 2, intel_),
                   ReadTiffLong(raw + 4, intel_), raw + 8};
    // A tag of another type keeps the value of the entry before it.
    if (entry.Type == kShortType) entryValue_ = ReadTiffShort(entry.Value, intel_);
    if (entry.Type == kLongType) entryValue_ = ReadTiffLong(entry.Value, intel_);
    if (!HandleEntry(entry)) return false;
  }
  return true;
}

bool TiffHeaderScanner::CheckSize() {
  const auto imageBytes = FloatImageBytes(width_, height_);
  if (!imageBytes)
    return RefuseDamaged("has a width or height of 0, or more than 4 GiB of pixels.");
  if (std::uint64_t{dataStart_} + *imageBytes > fileSize_)
    return RefuseDamaged("is shorter than its header promises.");
  return true;
}

}  // namespace

TiffHeader ParseTiffHeader(std::span<const std::uint8_t> head, ByteSource& file,
                           const std::string& fileName, std::uint32_t inheritedWidth,
                           std::uint32_t inheritedHeight) {
  TiffHeaderScanner scanner(file, fileName, inheritedWidth, inheritedHeight);
  return scanner.Run(head.first(std::min(head.size(), kTiffHeadBytes)));
}

}  // namespace lumivane
