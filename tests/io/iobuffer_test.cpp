#include "io/iobuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace lumivane {
namespace {

// The data start sits half a page from the file offset, whatever the offset,
// and the whole size is usable (the sanitizer build checks the bounds).
TEST(IoBuffer, DataStartsHalfAPageFromTheFileOffsetWithRoomForEveryByte) {
  IoBuffer buffer;
  for (const std::uint64_t offset :
       {0ull, 1ull, 22ull, 308ull, 2048ull, 4095ull, 4096ull, (1ull << 33) + 17}) {
    for (const std::size_t bytes : {std::size_t{1}, std::size_t{5000}, std::size_t{1} << 20}) {
      std::uint8_t* data = buffer.Place(bytes, offset);
      EXPECT_EQ(data, buffer.Data());
      EXPECT_EQ((reinterpret_cast<std::uintptr_t>(data) - offset) % 4096, 2048u)
          << offset << " " << bytes;
      std::memset(data, 0x5A, bytes);
      EXPECT_EQ(data[bytes - 1], 0x5A);
    }
  }
}

}  // namespace
}  // namespace lumivane
