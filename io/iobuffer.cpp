#include "io/iobuffer.h"

namespace lumivane {

namespace {
constexpr std::uintptr_t kPage = 4096;
}  // namespace

std::uint8_t* IoBuffer::Place(std::size_t bytes, std::uint64_t fileOffset) {
  if (storage_.size() < bytes + kPage) storage_.resize(bytes + kPage);
  const auto base = reinterpret_cast<std::uintptr_t>(storage_.data());
  const std::uintptr_t wanted = (static_cast<std::uintptr_t>(fileOffset) + kPage / 2) % kPage;
  data_ = storage_.data() + (wanted - base % kPage + kPage) % kPage;
  return data_;
}

}  // namespace lumivane
