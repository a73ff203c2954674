#include "cli/outputoptions.h"

#include <filesystem>
#include <system_error>

#include "io/parallel.h"

namespace lumivane {

void AddToneMapOutputOptions(CLI::App& verb, OutputSwitches& switches) {
  verb.add_option("--quality", switches.Quality,
                  "JPEG quality, 1 to 100, for a .jpg or .jpeg OUTPUT (default 95)")
      ->type_name("N")
      ->check(CLI::Range(1, 100));
}

void AddConvertOutputOptions(CLI::App& verb, OutputSwitches& switches) {
  verb.add_flag("--half", switches.Half,
                "Write an .exr OUTPUT in 16-bit half floats instead of 32-bit floats: each "
                "value rounds to the nearest half, ties to even, and values beyond the half "
                "range become infinite");
  verb.add_option("--compression", switches.Compression,
                  std::string("The compression of an .exr OUTPUT: ") + ExrCompressionNames() +
                      " (default zip; pxr24, b44, b44a, dwaa and dwab lose precision)")
      ->type_name("NAME")
      ->check(CLI::IsMember(
          {"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"}));
}

OutputFormat ToneMapOutputFormat(const std::string& given, const std::string& absolute) {
  const OutputFormat format = OutputFormatFromName(given);
  if (IsToneMapOutput(format)) return format;
  std::error_code error;
  const auto status = std::filesystem::status(absolute, error);
  const bool hasExtension = std::filesystem::path(given).has_extension();
  if (!hasExtension && std::filesystem::exists(status) &&
      !std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status))
    return OutputFormat::Tiff;
  throw CLI::ValidationError(
      "OUTPUT", "'" + given + "' does not end in a known extension: " + kToneMapExtensions +
                    " (24-bit TIFF, PNG, JPEG; any letter case)");
}

OutputFormat ConvertOutputFormat(const std::string& given) {
  const OutputFormat format = OutputFormatFromName(given);
  if (IsConvertOutput(format)) return format;
  throw CLI::ValidationError(
      "OUTPUT", "'" + given + "' does not end in a known extension: " + kConvertExtensions +
                    " (96-bit float TIFF, PFM, Radiance, OpenEXR; any "
                    "letter case); any input converts to each of them");
}

RowOutputOptions CheckOutputSwitches(const CLI::App& verb, const OutputSwitches& switches,
                                     OutputFormat format) {
  const auto given = [&verb](const char* name) {
    const CLI::Option* option = verb.get_option_no_throw(name);
    return option && option->count() > 0;
  };
  if (given("--quality") && format != OutputFormat::Jpeg)
    throw CLI::ValidationError("--quality", "applies to a .jpg or .jpeg OUTPUT only");
  for (const char* name : {"--half", "--compression"}) {
    if (given(name) && format != OutputFormat::Exr)
      throw CLI::ValidationError(name, "applies to an .exr OUTPUT only");
  }
  RowOutputOptions options;
  options.JpegQuality = switches.Quality;
  options.Exr.Half = switches.Half;
  options.Exr.Compression = ExrCompressionFromName(switches.Compression).value_or(3);
  options.Exr.Threads = WorkerThreadCount();
  return options;
}

}  // namespace lumivane
