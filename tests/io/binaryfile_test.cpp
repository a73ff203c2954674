#include "io/binaryfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
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

// Positioned reads and kernel copies leave the reading position alone; a copy
// moves the target's position, which a later write continues from.
TEST(BinaryFile, ReadAtAndCopyToKeepPositionsAndStopAtTheEnd) {
  testing::TempDir folder;
  std::vector<std::uint8_t> bytes(10000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  testing::WriteBytes(folder.File("in.bin"), bytes);
  BinaryFile in = BinaryFile::OpenForReading(folder.File("in.bin"));
  ASSERT_TRUE(in.Seek(17));
  std::vector<std::uint8_t> got(300);
  EXPECT_EQ(in.ReadAt(got.data(), got.size(), 4000), 300u);
  EXPECT_EQ(got, std::vector<std::uint8_t>(bytes.begin() + 4000, bytes.begin() + 4300));
  EXPECT_EQ(in.ReadAt(got.data(), got.size(), 9900), 100u);
  EXPECT_EQ(in.ReadAt(got.data(), got.size(), 20000), 0u);
  EXPECT_EQ(in.Position(), 17u);

  BinaryFile out = BinaryFile::CreateForWriting(folder.File("out.bin"));
  ASSERT_TRUE(out.Write("ab", 2));
  EXPECT_EQ(in.CopyTo(out, 6000, 1000), std::optional<std::size_t>(1000));
  EXPECT_EQ(in.CopyTo(out, 9500, 1000), std::optional<std::size_t>(500));
  // Nothing left to copy: the caller is to read and find the end itself.
  EXPECT_EQ(in.CopyTo(out, 10000, 10), std::nullopt);
  ASSERT_TRUE(out.Write("z", 1));
  out.Close();
  std::vector<std::uint8_t> expected{'a', 'b'};
  expected.insert(expected.end(), bytes.begin() + 6000, bytes.begin() + 7000);
  expected.insert(expected.end(), bytes.begin() + 9500, bytes.end());
  expected.push_back('z');
  EXPECT_EQ(testing::ReadBytes(folder.File("out.bin")), expected);
  EXPECT_EQ(in.Position(), 17u);

  // A device the kernel cannot copy to.
  BinaryFile full = BinaryFile::CreateForWriting("/dev/full");
  ASSERT_TRUE(full.IsOpen());
  EXPECT_EQ(in.CopyTo(full, 0, 100), std::nullopt);
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
  // The kernel fails on a folder that does not exist, ".." or not.
  EXPECT_EQ(AbsolutePath("/a/b/../c"), "/a/b/../c");
  const std::string relative = AbsolutePath("x/y.tif");
  EXPECT_EQ(relative, (std::filesystem::current_path() / "x/y.tif").lexically_normal().string());
}

// ".." after a symbolic link leads to the parent of the link's target.
TEST(BinaryFile, AbsolutePathDropsOnlyWhatTheKernelWould) {
  testing::TempDir folder;
  const std::string root = folder.Path().string();
  std::filesystem::create_directories(root + "/real/deep");
  std::filesystem::create_directory(root + "/sub");
  std::filesystem::create_directory_symlink("../real/deep", root + "/sub/link");
  EXPECT_EQ(AbsolutePath(root + "/sub/.//../real/./a.pfm"), root + "/real/a.pfm");
  EXPECT_EQ(AbsolutePath(root + "/sub/link/../a.pfm"), root + "/sub/link/../a.pfm");
  EXPECT_EQ(AbsolutePath(root + "/nowhere/../a.pfm"), root + "/nowhere/../a.pfm");
  EXPECT_EQ(AbsolutePath(root + "/real/deep/../../sub/"), root + "/sub/");
}

std::vector<std::string> Entries(const testing::TempDir& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777u : 0u;
}

TEST(BinaryFile, OutputReplacesTheFileOnlyWhenCommitted) {
  testing::TempDir folder;
  const std::string out = folder.File("out.bin"), link = folder.File("link.bin");
  testing::WriteText(out, "old");
  ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
  std::filesystem::create_symlink("out.bin", link);
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'}, fresh = {'n', 'e', 'w', '!'};
  {
    BinaryFile file = BinaryFile::CreateOutput(link);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Write(fresh.data(), fresh.size()));
    EXPECT_EQ(testing::ReadBytes(out), old);
    // Nobody else reads it before it is whole; where the file system allows,
    // it has no name at all until then.
    const std::string temporary = "/proc/self/fd/" + std::to_string(file.Descriptor());
    EXPECT_EQ(ModeOf(temporary), 0600u);
    const std::vector<std::string> names = Entries(folder);
    if (testing::HasUnnamedFiles(folder.Path().string())) {
      EXPECT_EQ(names, (std::vector<std::string>{"link.bin", "out.bin"}));
    } else {
      ASSERT_EQ(names.size(), 3u);
      EXPECT_TRUE(names[0].starts_with(".out.bin.")) << names[0];
    }
    ASSERT_TRUE(file.Commit());
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(testing::ReadBytes(out), fresh);
  EXPECT_EQ(ModeOf(out), 0640u);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Entries(folder), (std::vector<std::string>{"link.bin", "out.bin"}));

  // Discarded, closed or dropped: the output stays as it was, nothing beside it.
  for (int way = 0; way < 3; ++way) {
    BinaryFile file = BinaryFile::CreateOutput(out);
    ASSERT_TRUE(file.Write(old.data(), old.size()));
    if (way == 0) file.Discard();
    if (way == 1) file.Close();
    if (way == 2) file = BinaryFile();
    EXPECT_EQ(testing::ReadBytes(out), fresh);
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"link.bin", "out.bin"}));
  }

  // A new file gets the mode that creating it would give.
  const mode_t savedMask = ::umask(027);
  BinaryFile created = BinaryFile::CreateOutput(folder.File("new.bin"));
  const bool committed = created.Commit();
  ::umask(savedMask);
  ASSERT_TRUE(committed);
  EXPECT_EQ(ModeOf(folder.File("new.bin")), 0640u);
  EXPECT_EQ(Entries(folder), (std::vector<std::string>{"link.bin", "new.bin", "out.bin"}));
}

// A file with no name (standard output kept until the job is done) is
// written in place through /proc: no one else can see it half-written.
TEST(BinaryFile, AnOutputWithoutANameIsWrittenInPlace) {
  testing::TempDir folder;
  if (!testing::HasUnnamedFiles(folder.Path().string())) GTEST_SKIP() << "no O_TMPFILE here";
  const int unnamed = ::open(folder.Path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(unnamed, 0);
  const std::string path = "/proc/self/fd/" + std::to_string(unnamed);
  ASSERT_EQ(::write(unnamed, "stale bytes", 11), 11);
  BinaryFile file = BinaryFile::CreateOutput(path);
  ASSERT_TRUE(file.IsOpen());
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(testing::ReadBytes(path), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
  ::close(unnamed);
}

TEST(BinaryFile, OutputsThatAreNoRegularFilesAreWrittenAsTheyAre) {
  testing::TempDir folder;
  const std::string fifo = folder.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Nobody reads: no waiting for a reader that never comes.
  BinaryFile unread = BinaryFile::CreateOutput(fifo);
  EXPECT_FALSE(unread.IsOpen());
  EXPECT_EQ(unread.ErrorNumber(), ENXIO);

  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  BinaryFile file = BinaryFile::CreateOutput(fifo);
  ASSERT_TRUE(file.IsOpen());
  const std::uint8_t bytes[] = {1, 2, 3};
  ASSERT_TRUE(file.WriteAt(bytes, sizeof bytes, 100));
  std::uint8_t got[4] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 3);
  EXPECT_EQ(got[2], 3);
  // When the reader quits, a write fails at once instead of waiting.
  ::close(reader);
  void (*saved)(int) = std::signal(SIGPIPE, SIG_IGN);
  EXPECT_FALSE(file.Write(bytes, sizeof bytes));
  std::signal(SIGPIPE, saved);
  EXPECT_EQ(file.ErrorNumber(), EPIPE);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  BinaryFile null = BinaryFile::CreateOutput("/dev/null");
  ASSERT_TRUE(null.Write(bytes, sizeof bytes));
  EXPECT_TRUE(null.Commit());
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

}  // namespace
}  // namespace lumivane
