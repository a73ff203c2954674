#include "cli/commandline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "tests/support/floatfiles.h"
#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::CliRun;
using testing::RunCliInProcess;

using testing::TempDir;
using testing::WriteText;

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

TEST(ParseSettingValue, TakesWholeDecimalTextAsAcceptDoes) {
  EXPECT_EQ(ParseSettingValue("0.8"), 0.8f);
  EXPECT_EQ(ParseSettingValue("+2"), 2.0f);
  EXPECT_EQ(ParseSettingValue(".5"), 0.5f);
  EXPECT_EQ(ParseSettingValue("5."), 5.0f);
  EXPECT_EQ(ParseSettingValue("-1.5e1"), -15.0f);
  EXPECT_EQ(ParseSettingValue("1E-2"), 0.01f);
  for (const char* bad : {"", " 1", "1 ", "2,5", "1.2.3", "e5", "1e", "1e+", ".", "+", "&H10",
                          "0x10", "inf", "nan", "1d2", "--1"}) {
    EXPECT_EQ(ParseSettingValue(bad), std::nullopt) << bad;
  }
}

TEST(CommandLine, VersionHelpAndMissingVerb) {
  CliRun version = RunCliInProcess({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "lumivane-cli 1.22\n");
  EXPECT_EQ(version.Err, "");

  CliRun help = RunCliInProcess({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(Contains(help.Out, "tonemap")) << help.Out;
  EXPECT_TRUE(Contains(help.Out, "convert")) << help.Out;
  EXPECT_TRUE(Contains(help.Out, "Exit status: 0 success, 1 the job failed, 2 usage error."));

  CliRun tonemapHelp = RunCliInProcess({"tonemap", "--help"});
  EXPECT_EQ(tonemapHelp.Status, 0);
  for (const char* option : {"--brightness", "--contrast", "--post-gamma", "--warm", "--quiet"})
    EXPECT_TRUE(Contains(tonemapHelp.Out, option)) << option;

  CliRun convertHelp = RunCliInProcess({"convert", "--help"});
  EXPECT_EQ(convertHelp.Status, 0);
  EXPECT_TRUE(Contains(convertHelp.Out, "PFM > TIFF"));

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"blur", "a", "b"},
                                             {"tonemap"},
                                             {"tonemap", "a"},
                                             {"tonemap", "a", "b", "c"},
                                             {"tonemap", "--bright", "2", "a", "b"},
                                             {"convert", "a"}}) {
    CliRun usage = RunCliInProcess(args);
    EXPECT_EQ(usage.Status, 2) << usage.Err;
    EXPECT_EQ(usage.Out, "");
    EXPECT_TRUE(Contains(usage.Err, "--help")) << usage.Err;
  }
}

// An accepted value goes on to the input, which is missing here: exit 1,
// not the usage error's 2.
TEST(CommandLine, SettingsOutsideTheirRangesAreUsageErrorsNamingTheRange) {
  TempDir dir;
  const std::string missing = dir.File("missing.hdr");
  const std::string out = dir.File("out.tif");
  const auto status = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "tonemap");
    args.push_back(missing);
    args.push_back(out);
    return RunCliInProcess(args);
  };
  for (const char* good : {"0.01", "50", "10.5", "0.8", "1e1"})
    EXPECT_EQ(status({"--brightness", good}).Status, 1) << good;
  for (const char* bad : {"0.0099", "50.5", "0", "-1", "abc", "2,5", "nan", "1e400"}) {
    const CliRun result = status({"--brightness", bad});
    EXPECT_EQ(result.Status, 2) << bad;
    EXPECT_TRUE(Contains(result.Err, "0.01 to 50")) << result.Err;
    EXPECT_TRUE(Contains(result.Err, "--brightness")) << result.Err;
  }
  // 50.000001 rounds to the float 50: compared in 32-bit float, it is accepted.
  EXPECT_EQ(status({"--brightness", "50.000001"}).Status, 1);

  for (const char* good : {"0.1", "10", "1.2", "0.5"})
    EXPECT_EQ(status({"--contrast", good}).Status, 1) << good;
  for (const char* bad : {"0.0999", "10.01", "0", ""}) {
    const CliRun result = status({"--contrast", bad});
    EXPECT_EQ(result.Status, 2) << bad;
    EXPECT_TRUE(Contains(result.Err, "0.1 to 10")) << result.Err;
  }

  for (const char* good : {"1.2", "0.001", "1000"})
    EXPECT_EQ(status({"--post-gamma", good}).Status, 1) << good;
  for (const char* bad : {"0", "-0.5", "1e39", "inf", "x"}) {
    const CliRun result = status({"--post-gamma", bad});
    EXPECT_EQ(result.Status, 2) << bad;
    EXPECT_TRUE(Contains(result.Err, "above 0")) << result.Err;
  }

  const CliRun both = status({"--contrast", "2", "--post-gamma", "0.5"});
  EXPECT_EQ(both.Status, 2);
  EXPECT_TRUE(Contains(both.Err, "--contrast excludes --post-gamma")) << both.Err;
  EXPECT_FALSE(testing::FileExists(out));
}

TEST(CommandLine, InputsThatCannotBeReadOrRecognisedFailTheJob) {
  TempDir dir;
  WriteText(dir.File("notes.hdr"), "hello\n");
  const CliRun missing = RunCliInProcess({"tonemap", dir.File("missing.hdr"), dir.File("out.tif")});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Out, "");
  EXPECT_EQ(missing.Err, "lumivane-cli: cannot read " + dir.File("missing.hdr") +
                             ": No such file or directory\n");

  const CliRun unknown = RunCliInProcess({"tonemap", "--quiet", dir.File("notes.hdr"), dir.File("out.tif")});
  EXPECT_EQ(unknown.Status, 1);
  EXPECT_EQ(unknown.Err, "lumivane-cli: " + dir.File("notes.hdr") +
                             " is not a Radiance, TIFF, PFM or OpenEXR file (it starts with "
                             "none of \"#?RADIANCE\", \"II\", \"MM\", \"PF\", \"Pf\" in any "
                             "letter case, or the OpenEXR magic number)\n");
  const CliRun unknownConvert = RunCliInProcess({"convert", dir.File("notes.hdr"), dir.File("out.pfm")});
  EXPECT_EQ(unknownConvert.Status, 1);
  EXPECT_EQ(unknownConvert.Err, unknown.Err);
  EXPECT_FALSE(testing::FileExists(dir.File("out.tif")));
  EXPECT_FALSE(testing::FileExists(dir.File("out.pfm")));

  // A name with a control byte reaches the terminal escaped.
  const std::string odd = dir.File("odd\x1B[1mname.hdr");
  WriteText(odd, "hello\n");
  const CliRun escaped = RunCliInProcess({"tonemap", odd, dir.File("out.tif")});
  EXPECT_EQ(escaped.Status, 1);
  EXPECT_TRUE(Contains(escaped.Err, "odd\\x1B[1mname.hdr")) << escaped.Err;
  EXPECT_FALSE(Contains(escaped.Err, "\x1B"));

  // Paths are made absolute, as a dialog returns them.
  const CliRun relative = RunCliInProcess({"tonemap", "no-such-relative-input.hdr", dir.File("out.tif")});
  EXPECT_EQ(relative.Status, 1);
  EXPECT_TRUE(Contains(relative.Err, "cannot read /")) << relative.Err;
  EXPECT_TRUE(Contains(relative.Err, "/no-such-relative-input.hdr")) << relative.Err;
}

TEST(CommandLine, ConvertOutputsOfNoKnownKindAreUsageErrorsListingTheKnown) {
  TempDir dir;
  WriteText(dir.File("float.tif"), std::string("II*\0", 4));
  WriteText(dir.File("float.pfm"), "PF\n1 1\n-1.0\n");
  WriteText(dir.File("image.hdr"), "#?RADIANCE\n");
  const std::string list = ".hdr, .tif, .tiff, .pfm, .exr";
  for (const auto& [input, output] :
       std::vector<std::pair<std::string, std::string>>{{"float.tif", "out.tga"},
                                                        {"float.tif", "out.TIFF.bak"},
                                                        {"image.hdr", "out.png"},
                                                        {"float.pfm", "out"},
                                                        {"missing.hdr", "out.jpg"}}) {
    const CliRun result = RunCliInProcess({"convert", dir.File(input), dir.File(output)});
    EXPECT_EQ(result.Status, 2) << input << " " << output;
    EXPECT_TRUE(Contains(result.Err, list)) << result.Err;
    EXPECT_EQ(result.Out, "");
    EXPECT_FALSE(testing::FileExists(dir.File(output)));
  }
  // A format to itself is a conversion too: this one fails on the stub file, not as usage.
  const CliRun same = RunCliInProcess({"convert", dir.File("float.tif"), dir.File("x.tif")});
  EXPECT_EQ(same.Status, 1) << same.Err;
}

TEST(CommandLine, ConventionsOfAUnixTool) {
  EXPECT_EQ(RunCliInProcess({"-V"}).Out, "lumivane-cli 1.22\n");
  const CliRun help = RunCliInProcess({"help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out, RunCliInProcess({"--help"}).Out);
  for (const char* verb : {"tonemap", "convert", "info"}) {
    const CliRun verbHelp = RunCliInProcess({"help", verb});
    EXPECT_EQ(verbHelp.Status, 0);
    EXPECT_EQ(verbHelp.Out, RunCliInProcess({verb, "--help"}).Out) << verb;
  }
  const CliRun badHelp = RunCliInProcess({"help", "blur"});
  EXPECT_EQ(badHelp.Status, 2);
  EXPECT_TRUE(Contains(badHelp.Err, "'blur' is not one of tonemap, convert, info")) << badHelp.Err;

  const CliRun unknown = RunCliInProcess({"blur", "a.hdr"});
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_EQ(unknown.Err,
            "lumivane-cli: unknown verb 'blur'; the verbs are tonemap, convert, info, operators and help\n"
            "Run with --help for more information.\n");
  EXPECT_TRUE(Contains(RunCliInProcess({}).Err, "a verb is required: tonemap, convert, info, operators or help"));

  // The abort box keeps its text; the system's reason follows it, and nothing is made.
  TempDir dir;
  const std::string sample = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";
  const std::string nowhere = dir.File("none/out.tif");
  const CliRun missingFolder = RunCliInProcess({"tonemap", "--quiet", sample, nowhere});
  EXPECT_EQ(missingFolder.Status, 1);
  EXPECT_EQ(missingFolder.Err, "lumivane-cli: LUMIVANE - Abort.: Cannot open " + nowhere +
                                   "\nlumivane-cli: cannot open " + nowhere +
                                   ": No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
}

TEST(CommandLine, ManyInputsIntoAFolderRunEveryOneAndNameEachFailure) {
  TempDir dir;
  const std::string sample = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";
  std::filesystem::create_directories(dir.File("in"));
  std::filesystem::create_directories(dir.File("out"));
  std::filesystem::copy_file(sample, dir.File("in/a.hdr"));
  WriteText(dir.File("in/b.hdr"), "not an image\n");
  ASSERT_EQ(RunCliInProcess({"convert", sample, dir.File("in/c.pfm")}).Status, 0);

  const CliRun many = RunCliInProcess({"tonemap", "--warm", "-o", dir.File("out"), dir.File("in/a.hdr"),
                              dir.File("in/b.hdr"), dir.File("in/c.pfm")});
  EXPECT_EQ(many.Status, 1);
  EXPECT_TRUE(
      Contains(many.Err, "lumivane-cli: 1 of 3 inputs failed:\n  " + dir.File("in/b.hdr") + "\n"))
      << many.Err;
  EXPECT_FALSE(testing::FileExists(dir.File("out/b.tif")));
  // Each output is what a run of its own gives, with the same settings.
  for (const char* name : {"a.hdr", "c.pfm"}) {
    const std::string input = dir.File(std::string("in/") + name);
    ASSERT_EQ(RunCliInProcess({"tonemap", "--warm", "--quiet", input, dir.File("single.tif")}).Status, 0);
    const std::string output =
        dir.File("out/" + std::filesystem::path(name).stem().string() + ".tif");
    EXPECT_EQ(testing::TiffPixels(testing::ReadBytes(output)),
              testing::TiffPixels(testing::ReadBytes(dir.File("single.tif"))))
        << name;
  }
  // Both logs, each whole: its last line right after its statistics and writing.
  EXPECT_TRUE(Contains(many.Out, "Closed destination file " + dir.File("out/a.tif") +
                                     "\nHDR Tonemapping concluded.\n"))
      << many.Out;
  EXPECT_TRUE(Contains(many.Out, "PFM Tonemapping concluded.\n")) << many.Out;

  const CliRun converted =
      RunCliInProcess({"convert", "-q", "-o", dir.File("out"), "--to", "pfm", dir.File("in/a.hdr")});
  EXPECT_EQ(converted.Status, 0) << converted.Err;
  EXPECT_EQ(testing::ReadBytes(dir.File("out/a.pfm")), testing::ReadBytes(dir.File("in/c.pfm")));

  for (const std::vector<std::string>& usage : std::vector<std::vector<std::string>>{
           {"convert", "-o", dir.File("out"), dir.File("in/a.hdr")},
           {"convert", "-o", dir.File("out"), "--to", "png", dir.File("in/a.hdr")},
           {"tonemap", "-o", dir.File("nothing"), dir.File("in/a.hdr")},
           {"tonemap", "-o", dir.File("out"), dir.File("in/a.hdr"), dir.File("a.hdr")},
           {"tonemap", "-o", dir.File("out"), "-"}}) {
    const CliRun result = RunCliInProcess(usage);
    EXPECT_EQ(result.Status, 2) << result.Err;
  }
  EXPECT_EQ(BatchThreads(10, 1 << 20, 4), 4u);
  EXPECT_EQ(BatchThreads(3, 1 << 20, 8), 3u);
  EXPECT_EQ(BatchThreads(10, std::uint64_t{1} << 30, 4), 1u);
}

// Routing follows the readers: a TIFF the 96-bit reader takes (here with only
// the three tags it needs) gets its job, and "pf" is a colour PFM also where
// the library's reader reads it (a comment line sends it there).
TEST(CommandLine, RoutingFollowsTheClassicReaders) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(6, 4);
  testing::TiffBuilder minimal(true);
  const std::uint32_t pixels = minimal.Append(testing::PixelRows(image, 0, 4));
  minimal.Entry(256, 3, 1, minimal.Short(6));
  minimal.Entry(257, 3, 1, minimal.Short(4));
  minimal.Entry(273, 4, 1, minimal.Long(pixels));
  testing::WriteBytes(dir.File("minimal.tif"), minimal.Build());
  testing::WriteBytes(dir.File("full.tif"), testing::FloatTiff(image));
  const CliRun routed = RunCliInProcess({"tonemap", dir.File("minimal.tif"), dir.File("a.tif")});
  ASSERT_EQ(routed.Status, 0) << routed.Err;
  EXPECT_TRUE(Contains(routed.Out, "TIFF Tonemapping concluded.")) << routed.Out;
  EXPECT_TRUE(Contains(routed.Out, "Analised TIFF IFD in")) << routed.Out;
  ASSERT_EQ(RunCliInProcess({"tonemap", dir.File("full.tif"), dir.File("b.tif")}).Status, 0);
  // The same pixels; the headers differ in their clock readings only.
  EXPECT_EQ(testing::TiffPixels(testing::ReadBytes(dir.File("a.tif"))),
            testing::TiffPixels(testing::ReadBytes(dir.File("b.tif"))));

  for (const char* signature : {"PF", "pf", "pF"}) {
    testing::WriteBytes(dir.File("in.pfm"),
                        testing::Pfm(std::string(signature) + "\n# c\n6 4\n-1\n", image, true));
    const std::string out = dir.File(std::string(signature) + ".tif");
    ASSERT_EQ(RunCliInProcess({"tonemap", "-q", dir.File("in.pfm"), out}).Status, 0) << signature;
  }
  EXPECT_EQ(testing::ReadBytes(dir.File("pf.tif")), testing::ReadBytes(dir.File("PF.tif")));
  EXPECT_EQ(testing::ReadBytes(dir.File("pF.tif")), testing::ReadBytes(dir.File("PF.tif")));
}

// --operator and the operators' parameters come from the operator table; a
// wrong name, a parameter another operator takes and a value out of range are
// usage errors that name what is accepted.
TEST(CommandLine, OperatorsAndTheirParametersAreCheckedAgainstTheTable) {
  TempDir dir;
  const std::string photo = LUMIVANE_SOURCE_DIR "/samples/city.exr";
  const struct {
    std::vector<std::string> Args;
    std::string Named;
  } refused[] = {
      {{"--operator", "reinhard"}, "classic, reinhard02, drago03, filmic, durand02"},
      {{"--operator", "drago03", "--key", "0.2"}, "which takes --bias"},
      {{"--operator", "reinhard02", "--key", "5"}, "from .001 to 1"},
      {{"--operator", "durand02", "--sigma-s", "0.5px"}, "px to"},
      {{"--operator", "filmic", "--brightness", "2"}, "classic operator's settings"},
      {{"--bias", "0.5"}, "not a setting of the classic operator"},
  };
  for (const auto& [args, named] : refused) {
    std::vector<std::string> all = {"tonemap", photo, dir.File("x.tif")};
    all.insert(all.begin() + 1, args.begin(), args.end());
    const CliRun result = RunCliInProcess(all);
    EXPECT_EQ(result.Status, 2) << args[1];
    EXPECT_TRUE(Contains(result.Err, named)) << result.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.tif")));
  }
  // The same picture whether the length is a fraction of the diagonal or in
  // pixels: 512 x 256 has a diagonal of 572.4 pixels.
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", "durand02", "--sigma-s", "40px", photo,
                    dir.File("px.tif")})
                .Status,
            0);
  ASSERT_EQ(RunCliInProcess({"tonemap", "-q", "--operator", "durand02", "--sigma-s", "0.0698771", photo,
                    dir.File("fraction.tif")})
                .Status,
            0);
  const testing::Bytes px = testing::TiffPixels(testing::ReadBytes(dir.File("px.tif")));
  const testing::Bytes fraction = testing::TiffPixels(testing::ReadBytes(dir.File("fraction.tif")));
  ASSERT_EQ(px.size(), 3u * 512 * 256);
  ASSERT_EQ(fraction.size(), px.size());
  for (std::size_t i = 0; i < px.size(); ++i) ASSERT_LE(std::abs(px[i] - fraction[i]), 1) << i;
  const CliRun listed = RunCliInProcess({"operators", "--json"});
  ASSERT_EQ(listed.Status, 0);
  EXPECT_TRUE(Contains(listed.Out, "\"name\": \"durand02\""));
  EXPECT_TRUE(Contains(listed.Out, "\"default\": \"automatic\""));
}

}  // namespace
}  // namespace lumivane
