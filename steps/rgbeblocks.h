// The decoding passes of the jobs with Radiance input: each block of rows is
// decoded in pieces on every thread while the same threads use the block
// decoded before it, so decoding and the work on the pixels overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "formats/rgbe.h"
#include "formats/rgbeteam.h"

namespace lumivane {

class RowWorkers;
class Session;

// The steps around the decoding of a Radiance job's pixels. StartRgbeDecoding
// checks the image size and gives where the encoded bytes lie in InputFile;
// LogRgbeDataRead, LogRgbeDecodingStart and LogRgbeDecodingEnd write the lines
// around the decoding pass, the second also setting the progress range.
bool StartRgbeDecoding(Session& session, std::uint64_t& offset, std::uint64_t& bytes);
// The widest row StartRgbeDecoding accepts: about 170 MB of buffers in the
// conversion to float.
constexpr std::uint32_t kMaxRgbeRowPixels = std::uint32_t{1} << 22;
void LogRgbeDataRead(Session& session);
void LogRgbeDecodingStart(Session& session);
// With fewer than all rows whole, also says how many are.
void LogRgbeDecodingEnd(Session& session, const std::uint32_t (&rowCounts)[3],
                        std::uint32_t completeRows, std::int32_t startSeconds);
// "Pixel data end early: R of H rows complete."
std::string PixelDataEndEarlyLine(std::uint32_t completeRows, std::uint32_t height);
// The abort for a row head that no row kind allows.
bool AbortRgbeRowHead(Session& session);

// The failure routine of the jobs with Radiance input; deletes the output file.
// Returns false.
bool AbortRadianceJob(Session& session, const std::string& cause);

constexpr std::size_t kRgbePixelsPerBlock = kRgbeTeamBlockPixels;

struct RgbeBlockWork {
  using Block = RgbeBlockDecoder::Block;
  // On a decoding thread, for each piece of rows as soon as it is decoded;
  // pieces of one block may be passed on several threads at once. May be
  // empty.
  std::function<void(const Block&)> Decoded;
  // On the calling thread, before the parts start; may be empty.
  std::function<void(const Block&)> Before;
  // Rows [begin, end) of the block, counted from its first; the rows are split
  // into `Parts` such ranges, which run at the same time. Parts that would
  // get no row are not called.
  unsigned Parts = 1;
  std::function<void(const Block&, std::uint32_t begin, std::uint32_t end)> Use;
  // On the calling thread, once every part is done; may be empty.
  std::function<void(const Block&)> After;
};

// Where the bar stands for each block's rows: the first pass over a Radiance
// file counts decoded rows from 0, as the decoding of the whole image did; the
// tone-mapping pass counts mapped rows from 1.
enum class BlockProgress { RowIndexAsDecoded, RowNumberOnceUsed };

// Runs `work` on every block, in row order, and moves the bar as `progress`
// says, past the first `shown` rows (a pass that went before showed them).
// False on a refused row head.
bool ForEachDecodedBlock(Session& session, RgbeBlockDecoder& decoder, RowWorkers& workers,
                         BlockProgress progress, const RgbeBlockWork& work,
                         std::uint32_t shown = 0);

}  // namespace lumivane
