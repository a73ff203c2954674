// Radiance RGBE scanlines decoded into four byte planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivane {

class BinaryFile;
class RgbeData;
class Session;

struct RgbeImage {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // R, G, B mantissas and the shared exponent E; Width x Height bytes each,
  // rows in stored order.
  std::vector<std::uint8_t> R, G, B, E;
};

// (M + 0.5) / 256 x 2^(E - 128), exact in 32-bit float; no special case for E = 0.
float RgbeToFloat(std::uint8_t mantissa, std::uint8_t exponent);

// Reads the rest of InputFile, closes it and decodes every row. False after
// AbortRadianceJob ran.
bool LoadRgbeImage(Session& session, RgbeImage& image);

// For tests: true decodes run lines one plain step at a time, the reference
// for the chunked copies used otherwise.
void UsePlainRgbeSteps(bool plain);

// The streaming form of LoadRgbeImage's steps, for jobs that take the rows a
// block at a time. StartRgbeDecoding checks the image size and the row width (aborting as
// LoadRgbeImage does) and gives where the encoded bytes lie in InputFile;
// LogRgbeDataRead, LogRgbeDecodingStart and LogRgbeDecodingEnd write the lines
// around the decoding pass, the second also setting the progress range.
bool StartRgbeDecoding(Session& session, std::uint64_t& offset, std::uint64_t& bytes);
// The widest row StartRgbeDecoding accepts: about 170 MB of buffers in the
// conversion to float.
constexpr std::uint32_t kMaxRgbeRowPixels = std::uint32_t{1} << 22;
void LogRgbeDataRead(Session& session);
void LogRgbeDecodingStart(Session& session);
void LogRgbeDecodingEnd(Session& session, const std::uint32_t (&rowCounts)[3],
                        std::int32_t startSeconds);
// The abort for a row head that no row kind allows.
bool AbortRgbeRowHead(Session& session);

// A Radiance file's encoded bytes, read as the decoding reaches them through
// a window of about a megabyte. A checksum of every byte read lets a second
// pass over the file tell whether it read what the first one did.
class RgbeStream {
 public:
  // `bytes` bytes of `file` from `offset`; a short read ends the data.
  RgbeStream(BinaryFile& file, std::uint64_t offset, std::uint64_t bytes);
  ~RgbeStream();
  RgbeStream(const RgbeStream&) = delete;
  RgbeStream& operator=(const RgbeStream&) = delete;

  // Of the bytes read so far. The same bytes decoded the same way are read in
  // the same pieces, so they give the same checksum.
  std::uint64_t BytesRead() const { return read_; }
  std::uint64_t Checksum() const { return checksum_; }

 private:
  friend class RgbeData;
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  // More than the longest piece that decoding needs at once (a literal).
  static constexpr std::size_t kLookAhead = 4096;

  std::size_t Read(std::uint8_t* into, std::size_t count);

  BinaryFile& file_;
  std::uint64_t offset_;
  std::uint64_t left_;
  std::uint64_t read_ = 0;
  std::uint64_t checksum_ = 0;
  std::vector<std::uint8_t> window_;
};

// An image's rows decoded in order, a block of rows at a time, to exactly the
// pixels LoadRgbeImage gives them, without the whole image in memory. Two
// blocks take turns: the one decoded last is not touched while the next one is
// decoded, so another thread may use it (and overwrite it) meanwhile.
class RgbeBlockDecoder {
 public:
  struct Block {
    std::uint8_t* R;
    std::uint8_t* G;
    std::uint8_t* B;
    std::uint8_t* E;
    std::uint32_t FirstRow;
    std::uint32_t Rows;  // each `width` bytes in every plane
  };

  RgbeBlockDecoder(RgbeStream& stream, std::uint32_t width, std::uint32_t height,
                   std::uint32_t rowsPerBlock);
  // Decodes bytes already in memory.
  RgbeBlockDecoder(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                   std::uint32_t height, std::uint32_t rowsPerBlock);
  ~RgbeBlockDecoder();
  RgbeBlockDecoder(const RgbeBlockDecoder&) = delete;
  RgbeBlockDecoder& operator=(const RgbeBlockDecoder&) = delete;

  // Decodes the next block. False on a refused row head: the job must abort.
  bool DecodeNext();
  Block Last() const { return last_; }
  bool Finished() const { return rowsDone_ == height_; }
  const std::uint32_t (&RowCounts() const)[3] { return rowCounts_; }

 private:
  std::uint8_t* Plane(int slot, int component);

  std::unique_ptr<RgbeData> data_;
  std::uint32_t width_, height_, rowsPerBlock_, marginRows_;
  std::size_t stride_;
  std::vector<std::uint8_t> slots_[2];
  int next_ = 0;
  std::uint32_t rowsDone_ = 0;
  std::uint32_t rowCounts_[3] = {0, 0, 0};
  // What the block decoded last leaves to the next: the bytes its runs
  // spilled past its last row, and each plane's last pixel.
  std::uint8_t spill_[4][128] = {};
  std::size_t spillSize_ = 0;
  std::uint8_t previous_[4] = {};
  Block last_{};
};

// The failure routine of the jobs with Radiance input; deletes the output file.
// Returns false.
bool AbortRadianceJob(Session& session, const std::string& cause);

}  // namespace lumivane
