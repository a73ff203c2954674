#include "shell/binaryfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

TEST(BinaryFile, WritesReadsSeeksAndReportsItsSize) {
  testing::TempDir folder;
  const std::string path = folder.File("data.bin");
  BinaryFile file = BinaryFile::CreateForWriting(path);
  ASSERT_TRUE(file.IsOpen());
  std::vector<std::uint8_t> bytes(70000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(file.Write(bytes.data(), bytes.size()));
  EXPECT_EQ(file.Position(), 70000u);
  EXPECT_EQ(file.Size(), std::optional<std::uint64_t>(70000));
  ASSERT_TRUE(file.Seek(69990));
  std::uint8_t tail[20] = {};
  // A read past the end gives the bytes there are.
  EXPECT_EQ(file.Read(tail, sizeof tail), 10u);
  EXPECT_EQ(tail[0], bytes[69990]);
  EXPECT_EQ(tail[9], bytes[69999]);
  EXPECT_EQ(file.Read(tail, sizeof tail), 0u);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(testing::ReadBytes(path), bytes);
}

TEST(BinaryFile, CreatingTruncatesAnExistingFile) {
  testing::TempDir folder;
  const std::string path = folder.File("old.bin");
  testing::WriteText(path, "a much longer old content");
  BinaryFile file = BinaryFile::CreateForWriting(path);
  ASSERT_TRUE(file.IsOpen());
  ASSERT_TRUE(file.Write("new", 3));
  file.Close();
  EXPECT_EQ(testing::ReadBytes(path), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
}

TEST(BinaryFile, ReadingOpensOnlyRegularFiles) {
  testing::TempDir folder;
  const std::string path = folder.File("in.bin");
  testing::WriteText(path, "abc");
  BinaryFile file = BinaryFile::OpenForReading(path);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_NE(file.ErrorNumber(), 0);
  EXPECT_FALSE(file.ErrorText().empty());
  char byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'a');

  const BinaryFile missing = BinaryFile::OpenForReading(folder.File("missing"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.ErrorNumber(), ENOENT);
  const BinaryFile directory = BinaryFile::OpenForReading(folder.Path().string());
  EXPECT_FALSE(directory.IsOpen());
  EXPECT_EQ(directory.ErrorNumber(), EISDIR);
  const BinaryFile device = BinaryFile::OpenForReading("/dev/zero");
  EXPECT_FALSE(device.IsOpen());
}

TEST(BinaryFile, AClosedFileRefusesEverything) {
  BinaryFile file;
  char byte = 0;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Read(&byte, 1), 0u);
  EXPECT_FALSE(file.Write(&byte, 1));
  EXPECT_EQ(file.ErrorNumber(), EBADF);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_EQ(file.Position(), 0u);
  EXPECT_EQ(file.Size(), std::nullopt);
  EXPECT_FALSE(file.SameFileAs(file));
  file.Close();
}

TEST(BinaryFile, MovingHandsTheDescriptorOver) {
  testing::TempDir folder;
  const std::string path = folder.File("moved.bin");
  BinaryFile first = BinaryFile::CreateForWriting(path);
  BinaryFile second = std::move(first);
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move)
  ASSERT_TRUE(second.IsOpen());
  BinaryFile third;
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(third.Write("ok", 2));
  third = BinaryFile();
  EXPECT_FALSE(third.IsOpen());
  EXPECT_EQ(testing::ReadBytes(path), (std::vector<std::uint8_t>{'o', 'k'}));
}

TEST(BinaryFile, SameFileAsFollowsLinksAndPaths) {
  testing::TempDir folder;
  const std::string path = folder.File("a.bin");
  testing::WriteText(path, "a");
  testing::WriteText(folder.File("b.bin"), "a");
  std::filesystem::create_hard_link(path, folder.File("hard"));
  std::filesystem::create_symlink(path, folder.File("soft"));
  const BinaryFile file = BinaryFile::OpenForReading(path);
  const BinaryFile again = BinaryFile::OpenForReading(folder.File("soft"));
  const BinaryFile other = BinaryFile::OpenForReading(folder.File("b.bin"));
  EXPECT_TRUE(file.SameFileAs(path));
  EXPECT_TRUE(file.SameFileAs(folder.File("hard")));
  EXPECT_TRUE(file.SameFileAs(folder.File("soft")));
  EXPECT_TRUE(file.SameFileAs(again));
  EXPECT_FALSE(file.SameFileAs(other));
  EXPECT_FALSE(file.SameFileAs(folder.File("b.bin")));
  EXPECT_FALSE(file.SameFileAs(folder.File("missing")));
}

TEST(BinaryFile, RemoveAndAbsolutePath) {
  testing::TempDir folder;
  const std::string path = folder.File("gone.bin");
  testing::WriteText(path, "x");
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(testing::FileExists(path));
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_FALSE(RemoveFile(""));

  EXPECT_EQ(AbsolutePath(""), "");
  EXPECT_EQ(AbsolutePath("/a/b/../c"), "/a/c");
  const std::string relative = AbsolutePath("x/y.tif");
  EXPECT_EQ(relative, (std::filesystem::current_path() / "x/y.tif").lexically_normal().string());
}

}  // namespace
}  // namespace lumivane
