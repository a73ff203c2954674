#include "cli/verbs.h"

#include <cmath>

#include "cli/commandline.h"
#include "formats/formattable.h"

namespace lumivane {

namespace {

constexpr const char* kFilesHelp =
    "INPUT OUTPUT, or with -o DIR any number of INPUTs; - is standard input as INPUT and "
    "standard output as OUTPUT (the log then goes to standard error)";
constexpr const char* kQuietHelp = "No log, progress or success text; failures only";

// A settings value that [Accept] takes as it is: out of its range, where the
// window would put the default back, the command line refuses it instead.
CLI::Validator SettingRange(const SettingRule& rule) {
  return CLI::Validator(
      [&rule](std::string& text) -> std::string {
        if (!ParseSettingValue(text) || !SettingFromText(text, rule))
          return "'" + text + "' is not a number from " + rule.RangeText;
        return {};
      },
      "");
}

CLI::Validator PositiveFinite() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::optional<float> value = ParseSettingValue(text);
        if (!value || !std::isfinite(*value) || !(*value > 0.0f))
          return "'" + text + "' is not a number above 0 (finite as a 32-bit float)";
        return {};
      },
      "");
}

// Every extension the table writes, for --format.
std::vector<std::string> WrittenExtensions() {
  std::vector<std::string> extensions;
  for (const FormatRow& row : FormatTable())
    if (row.WritesBytes() || row.WritesFloats())
      extensions.insert(extensions.end(), row.Extensions.begin(), row.Extensions.end());
  return extensions;
}

void AddCommon(CLI::App& verb, Switches& s) {
  verb.add_option("-o,--output-dir", s.OutputDir, "Write one output per INPUT into DIR")
      ->type_name("DIR");
  const std::vector<std::string> extensions = WrittenExtensions();
  std::string names;
  for (const std::string& extension : extensions) names += (names.empty() ? "" : "|") + extension;
  verb.add_option("--format", s.Format,
                  "The format of an OUTPUT of -, which has no extension to tell it")
      ->type_name(names)
      ->check(CLI::IsMember(extensions).description(""));
  AddLimitOptions(verb, s.Limits);
}

void AddClassicSettings(CLI::App& tonemap, Switches& s, Verbs& verbs) {
  verbs.Brightness =
      tonemap
          .add_option("--brightness", s.BrightnessText,
                      std::string("Brightness of the classic operator, ") +
                          kBrightnessRule.RangeText + "; higher is brighter (default " +
                          kBrightnessRule.DefaultText + ")")
          ->type_name("B")
          ->check(SettingRange(kBrightnessRule));
  verbs.Contrast =
      tonemap
          .add_option("--contrast", s.ContrastText,
                      std::string("Contrast of the classic operator, ") + kContrastRule.RangeText +
                          "; higher brightens the mid-tones: the post-gamma "
                          "exponent is 1 / contrast, as the window's [Accept] "
                          "sets it (default " +
                          kContrastRule.DefaultText + ")")
          ->type_name("C")
          ->check(SettingRange(kContrastRule));
  verbs.PostGamma = tonemap
                        .add_option("--post-gamma", s.PostGammaText,
                                    "The classic operator's post-gamma exponent itself, above 0 "
                                    "(1.2 is the window's state before [Accept])")
                        ->type_name("K")
                        ->check(PositiveFinite());
  verbs.Contrast->excludes(verbs.PostGamma);
  verbs.WarmColours =
      tonemap.add_flag("--warm", s.Warm,
                       "Warm colours for the classic operator: each channel is scaled by its "
                       "own average instead of the grey one, which keeps a colour cast");
}

CLI::App* AddToneMap(CLI::App& app, Switches& s, Verbs& verbs) {
  CLI::App* tonemap = app.add_subcommand(
      "tonemap",
      "Tone-map INPUT (Radiance, float or integer TIFF, PFM or OpenEXR) with the --operator "
      "chosen (classic by default) to OUTPUT, an 8-bit RGB image (16-bit with --depth 16) whose "
      "kind its extension gives: .tif or .tiff a 24-bit TIFF, .png a PNG, .jpg or .jpeg a JPEG. "
      "PNG, JPEG and 16-bit TIFF outputs are tagged sRGB and record how they were made (see "
      "--strip).");
  AddClassicSettings(*tonemap, s, verbs);
  AddOperatorOptions(*tonemap, s.Operators);
  tonemap->add_flag("-q,--quiet", s.Quiet, kQuietHelp);
  AddCommon(*tonemap, s);
  AddToneMapOutputOptions(*tonemap, s.Output);
  AddSizeOptions(*tonemap, s.Size);
  tonemap
      ->add_option("--to", s.ToExtension,
                   "With -o DIR: the outputs' kind, tif (the default), tiff, png, jpg or jpeg")
      ->type_name("EXT");
  tonemap->add_option("FILES", s.Files, kFilesHelp)->type_name("")->required();
  return tonemap;
}

CLI::App* AddConvert(CLI::App& app, Switches& s) {
  CLI::App* convert = app.add_subcommand(
      "convert",
      "Convert INPUT (Radiance, TIFF, PFM or OpenEXR, by its first bytes) to OUTPUT without "
      "tone-mapping: HDR > TIFF, HDR > PFM, PFM > TIFF and TIFF > PFM as the Convert menu "
      "does, and any other pair, a format to itself included. OUTPUT's extension gives its "
      "kind: .tif or .tiff a 96-bit float TIFF, .pfm a PFM, .hdr a Radiance file, .exr an "
      "OpenEXR file.");
  convert->add_flag("-q,--quiet", s.Quiet, kQuietHelp);
  AddCommon(*convert, s);
  AddConvertOutputOptions(*convert, s.Output);
  convert
      ->add_option("--to", s.ToExtension,
                   "With -o DIR: the outputs' extension (tif, pfm, hdr or exr)")
      ->type_name("EXT");
  convert->add_option("FILES", s.Files, kFilesHelp)->type_name("")->required();
  return convert;
}

CLI::App* AddInfo(CLI::App& app, Switches& s) {
  CLI::App* info = app.add_subcommand(
      "info",
      "Show each FILE's format, size and byte order, its header as it stands in the file "
      "(Radiance header lines, TIFF tags, OpenEXR attributes), each channel's minimum, maximum "
      "and mean of its finite values with the counts of values below zero, NaN and infinite, "
      "the dynamic range of the luminance, and whether a Radiance file's pixel data end early; "
      "writes nothing.");
  info->add_flag("--json", s.Json,
                 "JSON Lines on standard output: one object per file, each on a line of its "
                 "own, and nothing else (a failing file gives {\"file\", \"error\"})");
  info->add_flag("-q,--quiet", s.Quiet, "No notes on standard error; failures only");
  AddLimitOptions(*info, s.Limits);
  info->add_option("FILES", s.Files, "The images to look at; - is standard input")
      ->type_name("")
      ->required();
  return info;
}

}  // namespace

std::string VerbNames(const char* last) {
  return std::string("tonemap, convert, info, operators ") + last + " help";
}

Verbs AddVerbs(CLI::App& app, Switches& s) {
  Verbs verbs;
  verbs.Tonemap = AddToneMap(app, s, verbs);
  verbs.Convert = AddConvert(app, s);
  verbs.Info = AddInfo(app, s);
  verbs.Operators = app.add_subcommand(
      "operators",
      "List the tone-mapping operators with their papers, parameters, ranges and defaults; "
      "writes nothing.");
  verbs.Operators->add_flag("--json", s.Json, "One JSON document (an array of operators)");
  verbs.Help = app.add_subcommand("help", "Show the help of lumivane-cli or of one VERB.");
  verbs.Help->add_option("VERB", s.HelpVerb, VerbNames("or"))->type_name("");
  return verbs;
}

}  // namespace lumivane
