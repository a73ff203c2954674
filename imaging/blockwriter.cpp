#include "imaging/blockwriter.h"

#include "shell/binaryfile.h"

namespace lumivane {

BlockWriter::BlockWriter(BinaryFile& file, bool overlap)
    : file_(file), overlap_(overlap), offset_(file.Position()) {}

BlockWriter::~BlockWriter() {
  // The buffer in flight must outlive its write.
  if (pending_.valid()) pending_.wait();
}

std::uint8_t* BlockWriter::Next(std::size_t bytes) {
  return buffers_[current_].Place(bytes, offset_);
}

bool BlockWriter::Finish() {
  if (pending_.valid()) written_ = pending_.get();
  return written_;
}

void BlockWriter::Start(std::size_t bytes) {
  const std::uint8_t* data = buffers_[current_].Data();
  started_ = true;
  offset_ += bytes;
  current_ ^= 1;
  if (overlap_) {
    pending_ =
        std::async(std::launch::async, [this, data, bytes] { return file_.Write(data, bytes); });
  } else {
    written_ = file_.Write(data, bytes);
  }
}

}  // namespace lumivane
