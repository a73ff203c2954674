#include "cli/outputoptions.h"

#include <filesystem>
#include <system_error>

#include "io/parallel.h"

namespace lumivane {

namespace {

bool TakesBytes(const FormatRow& row) {
  return row.WritesBytes();
}
bool TakesFloats(const FormatRow& row) {
  return row.WritesFloats();
}

}  // namespace

void AddToneMapOutputOptions(CLI::App& verb, OutputSwitches& switches) {
  verb.add_option("--quality", switches.Quality,
                  "JPEG quality, 1 to 100, for a .jpg or .jpeg OUTPUT (default 95)")
      ->type_name("N")
      ->check(CLI::Range(1, 100));
  verb.add_option("--depth", switches.Depth,
                  "Bits per channel of a .png, .tif or .tiff OUTPUT: 8 (default) or 16, the "
                  "16-bit values from the operator's result before its rounding to 8 bits; a "
                  "16-bit TIFF is written through libtiff, the 24-bit one stays the classic one")
      ->type_name("8|16")
      ->check(CLI::IsMember({8, 16}));
  verb.add_flag("--strip", switches.Strip,
                "Leave out of a .png, .jpg, .jpeg or 16-bit .tif OUTPUT the texts of how it was "
                "made (Software: this program and its version; Description: the input's name, "
                "the operator and its parameters); the sRGB colour tag stays");
}

void AddConvertOutputOptions(CLI::App& verb, OutputSwitches& switches) {
  CLI::Option* half =
      verb.add_flag("--half", switches.Half,
                    "Write an .exr OUTPUT in 16-bit half floats: each value rounds to the "
                    "nearest half, ties to even, and values beyond the half range become "
                    "infinite (default: halves for an .exr input stored in halves, 32-bit "
                    "floats otherwise)");
  CLI::Option* wide = verb.add_flag("--float", switches.Float,
                                    "Write an .exr OUTPUT in 32-bit floats, also for an input "
                                    "stored in halves (every half is kept exactly)");
  half->excludes(wide);
  wide->excludes(half);
  verb.add_option("--compression", switches.Compression,
                  std::string("The compression of an .exr OUTPUT: ") + ExrCompressionNames() +
                      " (default: an .exr input's own where it loses nothing, zip otherwise; "
                      "pxr24, b44, b44a, dwaa and dwab lose precision)")
      ->type_name("NAME")
      ->check(CLI::IsMember(
          {"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"}));
}

const FormatRow& ToneMapOutputFormat(const std::string& given, const std::string& absolute) {
  const FormatRow* format = FormatOfName(given);
  if (format && format->WritesBytes()) return *format;
  std::error_code error;
  const auto status = std::filesystem::status(absolute, error);
  const bool hasExtension = std::filesystem::path(given).has_extension();
  if (!hasExtension && std::filesystem::exists(status) &&
      !std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status))
    return FormatOf(FormatId::Tiff);
  throw CLI::ValidationError(
      "OUTPUT", "'" + given + "' does not end in a known extension: " + ExtensionList(TakesBytes) +
                    " (24-bit TIFF, PNG, JPEG; any letter case)");
}

const FormatRow& ConvertOutputFormat(const std::string& given) {
  const FormatRow* format = FormatOfName(given);
  if (format && format->WritesFloats()) return *format;
  throw CLI::ValidationError(
      "OUTPUT", "'" + given + "' does not end in a known extension: " + ExtensionList(TakesFloats) +
                    " (Radiance, 96-bit float TIFF, PFM, OpenEXR; any "
                    "letter case); any input converts to each of them");
}

SinkOptions CheckOutputSwitches(const CLI::App& verb, const OutputSwitches& switches,
                                const FormatRow& format) {
  const auto given = [&verb](const char* name) {
    const CLI::Option* option = verb.get_option_no_throw(name);
    return option && option->count() > 0;
  };
  if (given("--quality") && format.Id != FormatId::Jpeg)
    throw CLI::ValidationError("--quality", "applies to a .jpg or .jpeg OUTPUT only");
  for (const char* name : {"--half", "--float", "--compression"}) {
    if (given(name) && format.Id != FormatId::OpenExr)
      throw CLI::ValidationError(name, "applies to an .exr OUTPUT only");
  }
  if (switches.Depth == 16 && !format.WritesWords())
    throw CLI::ValidationError("--depth", "16 applies to a .png, .tif or .tiff OUTPUT only");
  SinkOptions options;
  options.JpegQuality = switches.Quality;
  options.Depth = switches.Depth;
  if (switches.Half || switches.Float) options.Exr.Half = switches.Half;
  if (!switches.Compression.empty())
    options.Exr.Compression = ExrCompressionFromName(switches.Compression);
  options.Exr.Threads = WorkerThreadCount();
  return options;
}

}  // namespace lumivane
