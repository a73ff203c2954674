#include "imaging/blockwriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/binaryfile.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

// Blocks of uneven sizes behind a header, written at once or in the
// background: the same file either way, each block where it belongs although
// its buffer is refilled while the one before is still being written.
TEST(BlockWriter, OverlappedAndDirectWritesGiveTheSameFileAndReportAFullDisk) {
  testing::TempDir dir;
  const std::size_t sizes[] = {5000, 1, 70001, 4096, 333};
  std::vector<std::uint8_t> expected{'h', 'e', 'a', 'd'};
  for (const bool overlap : {false, true}) {
    const std::string path = dir.File(overlap ? "overlap.bin" : "direct.bin");
    BinaryFile file = BinaryFile::CreateForWriting(path);
    ASSERT_TRUE(file.Write("head", 4));
    {
      BlockWriter writer(file, overlap);
      std::uint8_t seed = 0;
      for (const std::size_t size : sizes) {
        std::uint8_t* block = writer.Next(size);
        for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<std::uint8_t>(seed + i * 7);
        if (!overlap) {
          for (std::size_t i = 0; i < size; ++i) expected.push_back(block[i]);
        }
        ASSERT_TRUE(writer.Finish());
        writer.Start(size);
        seed += 31;
      }
      EXPECT_TRUE(writer.Finish());
    }
    file.Close();
    EXPECT_EQ(testing::ReadBytes(path), expected) << overlap;
  }

  for (const bool overlap : {false, true}) {
    BinaryFile full = BinaryFile::CreateForWriting("/dev/full");
    ASSERT_TRUE(full.IsOpen());
    BlockWriter writer(full, overlap);
    std::uint8_t* block = writer.Next(100);
    block[0] = 1;
    EXPECT_TRUE(writer.Finish());  // nothing in flight yet
    EXPECT_FALSE(writer.Started());
    writer.Start(100);
    EXPECT_TRUE(writer.Started());
    EXPECT_FALSE(writer.Finish()) << overlap;
    EXPECT_EQ(full.ErrorText(), "No space left on device");
  }
}

}  // namespace
}  // namespace lumivane
