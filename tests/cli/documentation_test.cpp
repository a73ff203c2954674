// The manual page and the shell completion keep up with the options the
// command line really has.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

std::string Help(const std::string& verb) {
  std::vector<const char*> argv = {"lumivane-cli", verb.c_str(), "--help"};
  std::ostringstream out, err;
  RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, false);
  return out.str();
}

std::string Source(const std::string& path) {
  const auto bytes = testing::ReadBytes(std::string(LUMIVANE_SOURCE_DIR) + "/" + path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(Documentation, ManualPageAndCompletionNameEveryVerbAndOption) {
  const std::string page = Source("docs/man/lumivane-cli.1.scd");
  const std::string bash = Source("resources/completion/lumivane-cli.bash");
  const std::string zsh = Source("resources/completion/_lumivane-cli");
  const std::regex option("--[a-z][a-z-]+");
  for (const std::string verb : {"tonemap", "convert", "info"}) {
    EXPECT_NE(page.find("*" + verb + "*"), std::string::npos) << verb;
    const std::string help = Help(verb);
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it)
      options.insert(it->str());
    EXPECT_GE(options.size(), 2u) << help;
    for (const std::string& name : options) {
      EXPECT_NE(page.find("*" + name + "*"), std::string::npos) << verb << " " << name;
      EXPECT_NE(bash.find(name), std::string::npos) << verb << " " << name;
      if (name != "--help") {
        EXPECT_NE(zsh.find(name), std::string::npos) << verb << " " << name;
      }
    }
  }
}

TEST(Documentation, BashCompletesVerbsOptionsAndValues) {
  if (!testing::HaveTool("bash")) GTEST_SKIP() << "no bash";
  testing::TempDir dir;
  const auto complete = [&dir](const std::string& words, int current) {
    testing::WriteText(dir.File("complete.sh"),
                       "source '" + std::string(LUMIVANE_SOURCE_DIR) +
                           "/resources/completion/lumivane-cli.bash'\nCOMP_WORDS=(" + words +
                           ")\nCOMP_CWORD=" + std::to_string(current) +
                           "\n_lumivane_cli\necho \"${COMPREPLY[*]}\"\n");
    std::string output;
    testing::RunCommand("bash " + dir.File("complete.sh"), &output);
    return output;
  };
  EXPECT_EQ(complete("lumivane-cli ''", 1), "tonemap convert info help -V --version -h --help\n");
  EXPECT_EQ(complete("lumivane-cli c", 1), "convert\n");
  EXPECT_EQ(complete("lumivane-cli tonemap --b", 2), "--brightness\n");
  EXPECT_EQ(complete("lumivane-cli convert --format p", 3), "png pfm\n");
  EXPECT_EQ(complete("lumivane-cli convert --t", 2), "--to\n");
  EXPECT_EQ(complete("lumivane-cli help i", 2), "info\n");
}

}  // namespace
}  // namespace lumivane
