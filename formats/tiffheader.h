// The header of a 96-bit float TIFF: the byte order, the IFD and its strip
// tables, read without a session so that it can be tested and fuzzed on bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "formats/bytesource.h"
#include "formats/headerscan.h"

namespace lumivane {

// The bytes the header scan takes from the start of the file; the IFD and the
// tables it points to are fetched through a ByteSource.
inline constexpr std::size_t kTiffHeadBytes = 8;

// Title of the box for a file that does not hold what its header points to.
inline constexpr const char* kTiffFileIssueTitle = "LUMIVANE - File issue.";

struct TiffHeader : HeaderScan {
  // Least significant byte first ("II"); set once the first two bytes say so.
  bool IntelOrder = false;
  // When refused: the box's title, and the line logged in place of the
  // failure text (none when empty: the box already says it).
  std::string FailureTitle;
  std::string FailureLogLine;
  // Refused for a layout this reader does not take (compressed, tiled,
  // planar, other samples, strips out of order), not for damage or size.
  bool OtherLayout = false;
};

// Reads the header from the file's first bytes (up to kTiffHeadBytes of them)
// and what the IFD points to from `file`; `fileName` goes into the failure
// texts. DataStart is the first strip's offset. A file without size tags is
// checked against the size it inherits (the previous job's in the session).
TiffHeader ParseTiffHeader(std::span<const std::uint8_t> head, ByteSource& file,
                           const std::string& fileName, std::uint32_t inheritedWidth = 0,
                           std::uint32_t inheritedHeight = 0);

std::uint16_t ReadTiffShort(const std::uint8_t* bytes, bool intelOrder);
std::uint32_t ReadTiffLong(const std::uint8_t* bytes, bool intelOrder);

}  // namespace lumivane
