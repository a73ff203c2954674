#include "formats/tiffinfo.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <limits>

namespace lumivane {

namespace {

// libtiff's names for the tags it knows, from a handle over a bare header:
// the names never depend on whether libtiff reads the file itself.
class TagNames {
 public:
  TagNames() {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    tiff_ = TIFFClientOpenExt("names", "rhm", this, Read, Write, Seek, Close, Size, nullptr,
                              nullptr, options);
    TIFFOpenOptionsFree(options);
    // The header alone sets up no directory, and with it no field table.
    if (tiff_ && TIFFCreateDirectory(tiff_) != 0) {
      TIFFCleanup(tiff_);
      tiff_ = nullptr;
    }
  }
  ~TagNames() {
    if (tiff_) TIFFCleanup(tiff_);
  }
  TagNames(const TagNames&) = delete;
  TagNames& operator=(const TagNames&) = delete;

  std::string Name(std::uint16_t tag) const {
    const TIFFField* field = tiff_ ? TIFFFindField(tiff_, tag, TIFF_ANY) : nullptr;
    return field && TIFFFieldName(field) ? TIFFFieldName(field) : "";
  }

 private:
  static constexpr unsigned char kHeader[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
  static int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
  static tmsize_t Read(thandle_t handle, void* into, tmsize_t count) {
    auto* self = static_cast<TagNames*>(handle);
    const auto from = static_cast<std::size_t>(std::min<toff_t>(self->at_, sizeof kHeader));
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), sizeof kHeader - from);
    std::memcpy(into, kHeader + from, n);
    self->at_ += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t Write(thandle_t, void*, tmsize_t) { return 0; }
  static toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    auto* self = static_cast<TagNames*>(handle);
    self->at_ = whence == SEEK_SET   ? offset
                : whence == SEEK_CUR ? self->at_ + offset
                                     : sizeof kHeader + offset;
    return self->at_;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t) { return sizeof kHeader; }

  TIFF* tiff_ = nullptr;
  toff_t at_ = 0;
};

constexpr const char* kTypeNames[] = {"",          "BYTE",  "ASCII",     "SHORT",  "LONG",
                                      "RATIONAL",  "SBYTE", "UNDEFINED", "SSHORT", "SLONG",
                                      "SRATIONAL", "FLOAT", "DOUBLE",    "IFD",    "",
                                      "",          "LONG8", "SLONG8",    "IFD8"};
constexpr unsigned kTypeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};

class Words {
 public:
  explicit Words(bool bigEndian) : bigEndian_(bigEndian) {}
  std::uint64_t Unsigned(const std::uint8_t* bytes, unsigned size) const {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i)
      value |= std::uint64_t{bytes[bigEndian_ ? size - 1 - i : i]} << (8 * i);
    return value;
  }
  std::int64_t Signed(const std::uint8_t* bytes, unsigned size) const {
    const std::uint64_t value = Unsigned(bytes, size);
    const unsigned unused = 64 - 8 * size;
    return static_cast<std::int64_t>(value << unused) >> unused;
  }

 private:
  bool bigEndian_;
};

double NumberAt(const Words& words, std::uint16_t type, const std::uint8_t* value) {
  switch (type) {
    case 5:
    case 10: {
      const double numerator = type == 5 ? static_cast<double>(words.Unsigned(value, 4))
                                         : static_cast<double>(words.Signed(value, 4));
      const double denominator = type == 5 ? static_cast<double>(words.Unsigned(value + 4, 4))
                                           : static_cast<double>(words.Signed(value + 4, 4));
      return denominator != 0 ? numerator / denominator : std::numeric_limits<double>::quiet_NaN();
    }
    case 6:
    case 8:
    case 9:
    case 17:
      return static_cast<double>(words.Signed(value, kTypeSizes[type]));
    case 11:
      return std::bit_cast<float>(static_cast<std::uint32_t>(words.Unsigned(value, 4)));
    case 12:
      return std::bit_cast<double>(words.Unsigned(value, 8));
    default:
      return static_cast<double>(words.Unsigned(value, kTypeSizes[type]));
  }
}

// The entry whose 12 (or 20) bytes are `raw`: its values from the entry
// itself when they fit there, else from the offset it holds.
TiffEntry ReadEntry(ByteSource& bytes, const Words& words, bool bigTiff, const std::uint8_t* raw,
                    const TagNames& names) {
  TiffEntry entry;
  entry.Tag = static_cast<std::uint16_t>(words.Unsigned(raw, 2));
  entry.Name = names.Name(entry.Tag);
  const auto type = static_cast<std::uint16_t>(words.Unsigned(raw + 2, 2));
  const unsigned countSize = bigTiff ? 8 : 4;
  entry.Count = words.Unsigned(raw + 4, countSize);
  const std::uint8_t* field = raw + 4 + countSize;
  const unsigned size = type < std::size(kTypeSizes) ? kTypeSizes[type] : 0;
  if (size == 0) {
    entry.Type = "type " + std::to_string(type);
    entry.Problem = "a type that TIFF does not define";
    return entry;
  }
  entry.Type = kTypeNames[type];
  entry.IsText = type == 2;
  const std::uint64_t shown =
      std::min<std::uint64_t>(entry.Count, entry.IsText ? kMaxTiffTextShown : kMaxTiffValuesShown);
  std::vector<std::uint8_t> values(static_cast<std::size_t>(shown * size));
  const bool inside = entry.Count <= countSize / size;
  if (inside) {
    std::copy_n(field, values.size(), values.begin());
  } else {
    const std::uint64_t offset = words.Unsigned(field, countSize);
    if (bytes.ReadAt(values.data(), values.size(), offset) != values.size()) {
      entry.Problem = "its values lie beyond the end of the file";
      return entry;
    }
  }
  if (entry.IsText) {
    entry.Text.assign(values.begin(), std::find(values.begin(), values.end(), 0));
    return entry;
  }
  for (std::size_t i = 0; i < shown; ++i)
    entry.Numbers.push_back(NumberAt(words, type, &values[i * size]));
  return entry;
}

}  // namespace

TiffDescription DescribeTiff(ByteSource& bytes) {
  TiffDescription description;
  std::uint8_t header[16] = {};
  const std::size_t got = bytes.ReadAt(header, sizeof header, 0);
  if (got < 8 ||
      !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
    description.Failure = "it does not start with a TIFF header";
    return description;
  }
  description.BigEndian = header[0] == 'M';
  const Words words(description.BigEndian);
  const auto version = words.Unsigned(header + 2, 2);
  description.BigTiff = version == 43;
  if (version != 42 && !(description.BigTiff && got == 16)) {
    description.Failure =
        "its version is " + std::to_string(version) + ", neither 42 (TIFF) nor 43 (BigTIFF)";
    return description;
  }
  const unsigned countSize = description.BigTiff ? 8 : 2;
  const unsigned entrySize = description.BigTiff ? 20 : 12;
  description.DirectoryOffset =
      description.BigTiff ? words.Unsigned(header + 8, 8) : words.Unsigned(header + 4, 4);
  std::uint8_t count[8] = {};
  if (bytes.ReadAt(count, countSize, description.DirectoryOffset) != countSize) {
    description.Failure = "its first directory, at byte " +
                          std::to_string(description.DirectoryOffset) +
                          ", lies beyond the end of the file";
    return description;
  }
  description.EntryCount = words.Unsigned(count, countSize);
  const auto wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>(description.EntryCount, kMaxTiffEntriesShown));
  std::vector<std::uint8_t> raw(wanted * entrySize);
  const std::size_t read =
      bytes.ReadAt(raw.data(), raw.size(), description.DirectoryOffset + countSize);
  if (read != raw.size())
    description.Failure = "its first directory ends beyond the end of the file";
  const TagNames names;
  for (std::size_t i = 0; i < read / entrySize; ++i)
    description.Entries.push_back(
        ReadEntry(bytes, words, description.BigTiff, &raw[i * entrySize], names));
  return description;
}

}  // namespace lumivane
