// The output's format from its extension, and the job chains for the outputs
// and conversion pairs beyond the menu's seven commands.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/inputformat.h"
#include "steps/rowwriters.h"
#include "steps/session.h"

namespace lumivane {

enum class OutputFormat { Tiff, Png, Jpeg, Pfm, Radiance, Exr, Unknown };

// By the extension after the name's last dot, in any letter case: .tif and
// .tiff, .png, .jpg and .jpeg, .pfm, .hdr, .exr.
OutputFormat OutputFormatFromName(std::string_view path);

// The extensions each verb writes, for usage messages and help.
inline constexpr const char* kToneMapExtensions = ".tif, .tiff, .png, .jpg, .jpeg";
inline constexpr const char* kConvertExtensions = ".tif, .tiff, .pfm, .hdr, .exr";

bool IsToneMapOutput(OutputFormat format);
bool IsConvertOutput(OutputFormat format);

// A tone-mapping to PNG or JPEG: the input's reader and tone-mapping job with
// the output's writer. Nothing for TIFF, which is the input's menu command.
std::optional<JobChain> ToneMapChainFor(InputFormat input, OutputFormat output,
                                        const RowOutputOptions& options);

// A conversion pair outside the menu's four: the input's reader, the output's
// writer and the row conversion, "<IN> to <OUT> conversion concluded.".
// Nothing for the four, which are menu commands.
std::optional<JobChain> ConvertChainFor(InputFormat input, OutputFormat output,
                                        const RowOutputOptions& options);

}  // namespace lumivane
