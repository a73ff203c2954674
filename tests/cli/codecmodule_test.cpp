// The libraries' formats live in a module loaded on first use: the program
// alone maps none of the libraries, runs the classic jobs, and names the
// module when a job needs it and it is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::ReadBytes;
using testing::RunCommand;

using testing::Quote;

TEST(CodecModule, ProgramWithoutTheModuleRunsClassicJobsAndNamesItForTheOthers) {
  namespace fs = std::filesystem;
  const testing::TempDir dir;
  fs::create_directories(dir.File("bin"));
  const std::string cli = dir.File("bin/lumivane-cli");
  fs::copy_file(LUMIVANE_CLI_PATH, cli);
  const std::string input = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";

  // What the loader maps at the start, as ldd lists it.
  std::string loaded;
  ASSERT_EQ(RunCommand("LD_TRACE_LOADED_OBJECTS=1 " + Quote(cli), &loaded), 0);
  ASSERT_NE(loaded.find("libc.so"), std::string::npos) << loaded;
  for (const char* library : {"libOpenEXR", "libtiff", "libpng", "libjpeg"})
    EXPECT_EQ(loaded.find(library), std::string::npos) << library << " in\n" << loaded;

  // A classic job needs no module and gives the built program's pixels.
  const std::string alone = dir.File("alone.tif"), built = dir.File("built.tif");
  ASSERT_EQ(RunCommand(Quote(cli) + " tonemap -q " + Quote(input) + " " + Quote(alone)), 0);
  ASSERT_EQ(
      RunCommand(Quote(LUMIVANE_CLI_PATH) + " tonemap -q " + Quote(input) + " " + Quote(built)), 0);
  const std::vector<std::uint8_t> a = ReadBytes(alone), b = ReadBytes(built);
  ASSERT_EQ(a.size(), 308u + 512u * 256u * 3u);
  EXPECT_TRUE(b.size() == a.size() && std::equal(a.begin() + 308, a.end(), b.begin() + 308));

  // An OpenEXR output fails, saying which file is missing, and leaves nothing.
  const std::string exr = dir.File("out.exr"), err = dir.File("err.txt");
  const std::string convert = Quote(cli) + " convert -q " + Quote(input) + " " + Quote(exr);
  EXPECT_EQ(RunCommand(convert + " 2>" + Quote(err)), 1);
  const std::vector<std::uint8_t> text = ReadBytes(err);
  const std::string message(text.begin(), text.end());
  EXPECT_NE(message.find("out.exr"), std::string::npos) << message;
  EXPECT_NE(message.find("lib/lumivane/lumivane-codecs.so"), std::string::npos) << message;
  EXPECT_FALSE(fs::exists(exr));

  // The module found beside the program, as installed: the job is done.
  fs::create_directories(dir.File("lib/lumivane"));
  fs::copy_file(fs::path(LUMIVANE_CLI_PATH).parent_path() / "../lib/lumivane/lumivane-codecs.so",
                dir.File("lib/lumivane/lumivane-codecs.so"));
  ASSERT_EQ(RunCommand(convert), 0);
  const std::vector<std::uint8_t> written = ReadBytes(exr);
  ASSERT_GE(written.size(), 4u);
  EXPECT_EQ(written[0], 0x76);
  EXPECT_EQ(written[1], 0x2f);
}

}  // namespace
}  // namespace lumivane
