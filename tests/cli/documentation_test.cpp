// The manual page and the shell completion keep up with the options the
// command line really has.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/formattable.h"
#include "imaging/operatortable.h"
#include "tests/cli/clirun.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

std::string Help(const std::string& verb) {
  return testing::RunCliInProcess({verb, "--help"}).Out;
}

// The manual page as built: its source with the sections the program makes
// from its format and operator tables.
std::string BuiltManualPage() {
  const std::string path =
      (std::filesystem::path(LUMIVANE_CLI_PATH).parent_path() / "../man/lumivane-cli.1.scd")
          .string();
  const auto bytes = testing::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(Documentation, ManualPageNamesEveryVerbOptionFormatAndOperator) {
  const std::string page = BuiltManualPage();
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(page.find("@GENERATED@"), std::string::npos);
  const std::regex option("--[a-z][a-z-]+");
  for (const std::string verb : {"tonemap", "convert", "info", "operators"}) {
    EXPECT_NE(page.find("*" + verb + "*"), std::string::npos) << verb;
    const std::string help = Help(verb);
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it)
      options.insert(it->str());
    EXPECT_GE(options.size(), 2u) << help;
    for (const std::string& name : options)
      EXPECT_NE(page.find("*" + name + "*"), std::string::npos) << verb << " " << name;
  }
  for (const FormatRow& row : FormatTable())
    EXPECT_NE(page.find("*" + std::string(row.Name) + "* (."), std::string::npos) << row.Name;
  for (const OperatorRow& row : OperatorTable())
    EXPECT_NE(page.find("*" + std::string(row.Name) + "*\n"), std::string::npos) << row.Name;
}

// The completion asks the program, so it knows every verb, option and value.
TEST(Documentation, BashCompletesVerbsOptionsAndValues) {
  if (!testing::HaveTool("bash")) GTEST_SKIP() << "no bash";
  testing::TempDir dir;
  testing::WriteText(dir.File("words"), "");
  const auto complete = [&dir](const std::string& words, int current) {
    testing::WriteText(dir.File("complete.sh"),
                       "source '" + std::string(LUMIVANE_SOURCE_DIR) +
                           "/resources/completion/lumivane-cli.bash'\nCOMP_WORDS=('" +
                           std::string(LUMIVANE_CLI_PATH) + "' " + words +
                           ")\nCOMP_CWORD=" + std::to_string(current) + "\ncd '" +
                           dir.Path().string() + "'\n_lumivane_cli\necho \"${COMPREPLY[*]}\"\n");
    std::string output;
    testing::RunCommand("bash " + dir.File("complete.sh"), &output);
    return output;
  };
  std::filesystem::create_directory(dir.File("out"));
  EXPECT_EQ(complete("''", 1), "tonemap convert info operators help -V --version -h --help\n");
  EXPECT_EQ(complete("c", 1), "convert\n");
  EXPECT_EQ(complete("tonemap --br", 2), "--brightness\n");
  EXPECT_EQ(complete("tonemap --b", 2), "--brightness --bias --base-contrast\n");
  EXPECT_EQ(complete("convert --format p", 3), "pfm png\n");
  EXPECT_EQ(complete("tonemap --operator d", 3), "drago03 durand02\n");
  EXPECT_EQ(complete("convert --t", 2), "--to\n");
  EXPECT_EQ(complete("tonemap -o o", 3), "out\n");
  EXPECT_EQ(complete("tonemap wor", 2), "words\n");
  EXPECT_EQ(complete("help i", 2), "info\n");
}

}  // namespace
}  // namespace lumivane
