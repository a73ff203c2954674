#include "steps/rgbeblocks.h"

#include <algorithm>
#include <limits>
#include <string>

#include "formats/rgbeteam.h"
#include "io/parallel.h"
#include "steps/failure.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {
constexpr const char* kRowCountLabels[] = {"RLE-0 Lines:", "RLE-1 Lines:", "RLE-2 Lines:"};
constexpr const char* kRowHeadError = "RLE type 2 header error.";
}  // namespace

bool StartRgbeDecoding(Session& session, std::uint64_t& offset, std::uint64_t& bytes) {
  JobContext& context = session.Context;
  const std::uint64_t pixels = std::uint64_t{context.ImageWidth} * context.ImageHeight;
  if (pixels == 0 || pixels > std::numeric_limits<std::uint32_t>::max()) {
    return AbortRadianceJob(session, "The image size cannot be handled.");
  }
  // The jobs hold at least one whole row in several forms; a header of a few
  // bytes can declare a row wider than any memory.
  if (context.ImageWidth > kMaxRgbeRowPixels) {
    return AbortRadianceJob(session, context.InputFileName + " has rows of " +
                                         std::to_string(context.ImageWidth) + " pixels; at most " +
                                         std::to_string(kMaxRgbeRowPixels) +
                                         " pixels per row can be read.");
  }
  // Everything from the first pixel byte to the end of the file; a data start
  // beyond the end leaves nothing to read.
  offset = context.InputFile.Position();
  const std::uint64_t fileSize = context.InputFile.Size().value_or(0);
  bytes = fileSize > offset ? fileSize - offset : 0;
  return true;
}

void LogRgbeDataRead(Session& session) {
  LogLine(session, "Got all data, closed source file.");
  LogLine(session, session.Context.InputFileName);
}

void LogRgbeDecodingStart(Session& session) {
  SetProgressRange(session, 1, session.Context.ImageHeight);
  LogLine(session, "Decompressing RGBE data");
}

void LogRgbeDecodingEnd(Session& session, const std::uint32_t (&rowCounts)[3],
                        std::uint32_t completeRows, std::int32_t startSeconds) {
  for (int kind = 0; kind < 3; ++kind) {
    LogLine(session, kRowCountLabels[kind] + FormatNumber(rowCounts[kind], 15));
  }
  LogLine(session, ElapsedLine("Decompressed RGBE data and RGBE image created in", startSeconds,
                               ClockWholeSeconds(session)));
  // The missing pixels stay black, as the decoding leaves them; this says so.
  const std::uint32_t height = session.Context.ImageHeight;
  if (completeRows < height) LogLine(session, PixelDataEndEarlyLine(completeRows, height));
}

std::string PixelDataEndEarlyLine(std::uint32_t completeRows, std::uint32_t height) {
  return "Pixel data end early: " + std::to_string(completeRows) + " of " +
         std::to_string(height) + " rows complete.";
}

bool AbortRgbeRowHead(Session& session) {
  return AbortRadianceJob(session, kRowHeadError);
}

bool AbortRadianceJob(Session& session, const std::string& cause) {
  return FailStep(session, cause,
                  FailureOptions()
                      .ShowBox({"Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning})
                      .CloseInput(InputClosing::WithLines)
                      .CloseOutput(OutputClosing::RemoveWithLines)
                      .EndWithSeparator());
}

bool ForEachDecodedBlock(Session& session, RgbeBlockDecoder& decoder, RowWorkers& workers,
                         BlockProgress positions, const RgbeBlockWork& work, std::uint32_t shown) {
  using Block = RgbeBlockDecoder::Block;
  const bool rowIndexes = positions == BlockProgress::RowIndexAsDecoded;
  const auto progress = [&](const Block& block) {
    if (block.FirstRow + block.Rows <= shown) return;
    const std::uint32_t from = std::max(block.FirstRow, shown);
    const std::uint32_t first = rowIndexes ? from : from + 1;
    ReplayProgress(session, first, first + (block.FirstRow + block.Rows - from) - 1);
  };
  const unsigned parts = work.Parts == 0 ? 1 : work.Parts;
  // The next block's decoding beside the parts of the block before it (a
  // chain of sums may be long).
  const auto decodeBeside = [&](const Block* used) {
    const auto use = [&](std::size_t task) {
      const auto first = static_cast<std::uint32_t>(task * used->Rows / parts);
      const auto last = static_cast<std::uint32_t>((task + 1) * used->Rows / parts);
      if (first < last) work.Use(*used, first, last);
    };
    return DecodeNextRgbeBlock(decoder, workers, work.Decoded, used ? parts : 0, use);
  };
  bool decoded = decodeBeside(nullptr);
  if (rowIndexes) progress(decoder.Last());
  while (decoded) {
    const Block block = decoder.Last();
    const bool more = !decoder.Finished();
    if (work.Before) work.Before(block);
    decoded = decodeBeside(&block);
    if (work.After) work.After(block);
    if (!rowIndexes) progress(block);
    if (!more) break;
    if (rowIndexes) progress(decoder.Last());
  }
  return decoded;
}

}  // namespace lumivane
