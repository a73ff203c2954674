// A checksum to tell two reads of the same bytes from reads that differ, not a
// defence against tampering: a job that reads its input twice compares them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivane {

std::uint64_t ChecksumBytes(std::uint64_t seed, const std::uint8_t* bytes, std::size_t count);

}  // namespace lumivane
