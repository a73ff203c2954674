// Which job a file calls for: the input's format from its first bytes (never
// its name), the output's kind from its extension.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivane {

// Tiff and Pfm are the files the classic readers take; GeneralTiff and
// GeneralPfm those they refuse but the library-based readers read (compressed,
// tiled, planar, integer or half TIFFs; grey or commented PFMs).
enum class InputFormat { Radiance, Tiff, Pfm, Unknown, Exr, GeneralTiff, GeneralPfm };

// "#?RADIANCE" Radiance; "II" or "MM" TIFF; "PF" or "Pf" in any letter case
// PFM; the OpenEXR magic number EXR. The first bytes alone never tell a
// general TIFF or PFM: SniffInputFile looks further.
InputFormat SniffInputFormat(std::string_view firstBytes);

struct SniffResult {
  InputFormat Format = InputFormat::Unknown;
  // Empty when the file could be read; otherwise why not.
  std::string Error;
};
SniffResult SniffInputFile(const std::string& path);

// "Radiance", "TIFF", "PFM", "OpenEXR".
std::string_view InputFormatName(InputFormat format);

// The tone-mapping command for an input format; nothing for Unknown.
std::optional<int> ToneMapCommandFor(InputFormat format);

enum class OutputKind { Tiff96, Pfm, Unknown };
// .tif / .tiff: 96-bit TIFF; .pfm: PFM; any letter case.
OutputKind OutputKindFromName(std::string_view path);

// HDR > TIFF, HDR > PFM, PFM > TIFF or TIFF > PFM; nothing for any other pair.
std::optional<int> ConvertCommandFor(InputFormat input, OutputKind output);

}  // namespace lumivane
