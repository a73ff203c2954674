#include "cli/info.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <vector>

#include "cli/consolewindow.h"
#include "cli/escape.h"
#include "cli/inputformat.h"
#include "formats/rgbe.h"
#include "formats/rgbeteam.h"
#include "imaging/fastpaths.h"
#include "imaging/statistics.h"
#include "io/parallel.h"
#include "shell/dispatch.h"
#include "steps/floatrows.h"
#include "steps/libraryreaders.h"
#include "steps/pfmreader.h"
#include "steps/radiance.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "steps/tiffreader.h"

namespace lumivane {

namespace {

struct FileFacts {
  InputFormat Format = InputFormat::Unknown;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::string ByteOrder;
  std::vector<std::string> HeaderLines;
  ImageStatistics Statistics;
  std::vector<std::string> StatisticsLines;
  std::uint64_t NaNs = 0, Infinities = 0, Negatives = 0;
};

void Count(float value, FileFacts& facts) {
  if (std::isnan(value))
    ++facts.NaNs;
  else if (std::isinf(value))
    ++facts.Infinities;
  if (value < 0.0f) ++facts.Negatives;
}

// Radiance pixels decoded a block of rows at a time on every thread; RGBE
// holds no NaN, infinity or negative value, but they are counted all the same.
// Each channel is summed in row order, as the jobs sum it: the three sums of
// a block run side by side, beside the decoding of the block after it.
bool GatherRadiance(Session& session, ChannelAccumulators& channels, FileFacts& facts,
                    std::string& why) {
  const JobContext& context = session.Context;
  std::uint64_t offset = 0, bytes = 0;
  if (!StartRgbeDecoding(session, offset, bytes)) {
    why = session.Context.FailureMessage;
    return false;
  }
  RowWorkers workers;
  RgbeStream stream(session.Context.InputFile, offset, bytes);
  RgbeBlockDecoder decoder(stream, context.ImageWidth, context.ImageHeight,
                           RowsPerWave(context.ImageWidth, kRgbePixelsPerBlock));
  const float* table = RgbeFloatTable().data();
  FileFacts odd[3];
  const auto sum = [&](const RgbeBlockDecoder::Block& block, std::size_t c) {
    const std::uint8_t* mantissas[3] = {block.R, block.G, block.B};
    const std::size_t pixels = std::size_t{context.ImageWidth} * block.Rows;
    for (std::size_t i = 0; i < pixels; ++i) {
      const float value = table[RgbeKey(mantissas[c][i], block.E[i])];
      Count(value, odd[c]);
      channels[c].Add(value);
    }
  };
  bool decoded = DecodeNextRgbeBlock(decoder, workers);
  while (decoded) {
    const RgbeBlockDecoder::Block block = decoder.Last();
    const bool more = !decoder.Finished();
    decoded = DecodeNextRgbeBlock(decoder, workers, {}, 3, [&](std::size_t c) { sum(block, c); });
    if (!more) break;
  }
  if (!decoded) {
    why = "a row of its pixel data starts in a way no Radiance row may";
    return false;
  }
  for (const FileFacts& channel : odd) {
    facts.NaNs += channel.NaNs;
    facts.Infinities += channel.Infinities;
    facts.Negatives += channel.Negatives;
  }
  return true;
}

// Float pixels in file order, as the tone-mapping job sums them.
bool GatherFloats(Session& session, ChannelAccumulators& channels, FileFacts& facts,
                  std::string& why) {
  JobContext& context = session.Context;
  const std::uint64_t dataStart = context.InputFile.Position();
  const auto imageBytes = FloatImageBytes(context.ImageWidth, context.ImageHeight);
  const auto size = context.InputFile.Size();
  if (!imageBytes) {
    why = "its width or height is 0, or it has more than 4 GiB of pixels";
    return false;
  }
  if (size && *size < dataStart + *imageBytes) {
    why = "it is shorter than its header promises";
    return false;
  }
  const std::size_t rowBytes = std::size_t{context.ImageWidth} * 12;
  FloatRowReader rows(context.InputFile, dataStart, rowBytes, context.ImageHeight, false);
  while (!rows.AllRowsRead()) {
    const std::uint8_t* row = rows.NextRow();
    if (!row) {
      why = "its pixel data cannot be read: " + context.InputFile.ErrorText();
      return false;
    }
    for (std::size_t i = 0; i < std::size_t{context.ImageWidth} * 3; ++i)
      Count(StoredFloat(row + 4 * i, context.SourceIntelOrder), facts);
    AccumulateFloatPixels(row, context.ImageWidth, context.SourceIntelOrder, channels);
  }
  return true;
}

// The rows a library reader hands out, in row order as the image job sums them.
bool GatherRows(Session& session, ChannelAccumulators& channels, FileFacts& facts,
                std::string& why) {
  JobContext& context = session.Context;
  const std::size_t rowFloats = std::size_t{context.ImageWidth} * 3;
  std::vector<float> row(rowFloats);
  for (std::uint32_t y = 0; y < context.ImageHeight; ++y) {
    if (!context.InputRows->ReadRows(row.data(), 1, why)) return false;
    for (const float value : row) Count(value, facts);
    for (std::size_t i = 0; i < rowFloats; ++i) channels[i % 3].Add(row[i]);
  }
  return true;
}

// The facts of one file, or why they cannot be had.
std::optional<FileFacts> Inspect(const std::string& path, const ReadLimits& limits,
                                 std::string& why) {
  FileFacts facts;
  const SniffResult sniff = SniffInputFile(path);
  if (!sniff.Error.empty()) {
    why = sniff.Error;
    return std::nullopt;
  }
  facts.Format = sniff.Format;
  if (facts.Format == InputFormat::Unknown) {
    why = "not a Radiance, TIFF, PFM or OpenEXR file";
    return std::nullopt;
  }
  // The readers run as in a job, into a log kept in memory; their boxes are
  // dropped, the failure message says the same.
  std::ostringstream discarded;
  ConsoleOptions options;
  options.InputPath = path;
  options.ShowLog = false;
  ConsoleWindow window(options, discarded, discarded);
  Session session(window);
  StartSession(session);
  session.Settings.Limits = limits;
  const bool radiance = facts.Format == InputFormat::Radiance;
  const bool library = facts.Format == InputFormat::Exr ||
                       facts.Format == InputFormat::GeneralTiff ||
                       facts.Format == InputFormat::GeneralPfm;
  const bool read = radiance                                   ? ReadHdrHeader(session)
                    : facts.Format == InputFormat::Tiff        ? ReadTiffHeader(session)
                    : facts.Format == InputFormat::Pfm         ? ReadPfmHeader(session)
                    : facts.Format == InputFormat::Exr         ? ReadExrHeader(session)
                    : facts.Format == InputFormat::GeneralTiff ? ReadGeneralTiffHeader(session)
                                                               : ReadGeneralPfmHeader(session);
  if (!read) {
    why = session.Context.FailureMessage;
    return std::nullopt;
  }
  facts.HeaderLines = window.Log();
  facts.Width = session.Context.ImageWidth;
  facts.Height = session.Context.ImageHeight;
  facts.ByteOrder = radiance  ? "none (bytes)"
                    : library ? "as the file stores it (read by its library)"
                    : session.Context.SourceIntelOrder ? "least significant byte first"
                                                       : "most significant byte first";
  ChannelAccumulators channels;
  const bool gathered = radiance  ? GatherRadiance(session, channels, facts, why)
                        : library ? GatherRows(session, channels, facts, why)
                                  : GatherFloats(session, channels, facts, why);
  session.Context.InputRows.reset();
  if (!gathered) return std::nullopt;
  facts.Statistics = ComputeImageStatistics(channels, facts.Width * facts.Height, false);
  const std::size_t before = window.Log().size();
  LogImageStatistics(session, facts.Statistics);
  facts.StatisticsLines.assign(window.Log().begin() + static_cast<std::ptrdiff_t>(before),
                               window.Log().end());
  return facts;
}

nlohmann::json ToJson(const std::string& name, const FileFacts& facts) {
  const ImageStatistics& s = facts.Statistics;
  nlohmann::json channels = nlohmann::json::object();
  const char* names[3] = {"red", "green", "blue"};
  for (int c = 0; c < 3; ++c) {
    channels[names[c]] = {{"low", s.Minimum[c]},
                          {"high", s.Maximum[c]},
                          {"sum", s.Sum[c]},
                          {"average", s.Average[c]}};
  }
  channels["grey"] = {{"low", s.GreyMinimum},
                      {"high", s.GreyMaximum},
                      {"sum", s.GreySum},
                      {"average", s.GreyAverage}};
  return {{"file", name},
          {"format", std::string(InputFormatName(facts.Format))},
          {"width", facts.Width},
          {"height", facts.Height},
          {"byte_order", facts.ByteOrder},
          {"header", facts.HeaderLines},
          {"statistics", channels},
          {"dynamic_range", s.DynamicRange},
          {"statistics_log", facts.StatisticsLines},
          {"nan_values", facts.NaNs},
          {"infinite_values", facts.Infinities},
          {"negative_values", facts.Negatives}};
}

void PrintText(const std::string& name, const FileFacts& facts, std::ostream& out) {
  out << EscapeForTerminal(name) << '\n'
      << "Format: " << InputFormatName(facts.Format) << '\n'
      << "Size: " << facts.Width << " x " << facts.Height << " pixels\n"
      << "Byte order: " << facts.ByteOrder << '\n'
      << "Header (as the reader logs it):\n";
  for (const std::string& line : facts.HeaderLines) out << "  " << EscapeForTerminal(line) << '\n';
  for (const std::string& line : facts.StatisticsLines) out << line << '\n';
  out << "NaN values: " << facts.NaNs << '\n'
      << "Infinite values: " << facts.Infinities << '\n'
      << "Negative values: " << facts.Negatives << '\n';
}

}  // namespace

int RunInfo(const std::vector<std::string>& paths, const std::vector<std::string>& names, bool json,
            const ReadLimits& limits, std::ostream& out, std::ostream& err) {
  int status = 0;
  bool first = true;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::string why;
    std::optional<FileFacts> facts;
    // One file that cannot be had fails alone; the others are still described.
    try {
      facts = Inspect(paths[i], limits, why);
    } catch (const std::bad_alloc&) {
      why = "not enough memory";
    } catch (const std::exception& error) {
      why = error.what();
    }
    if (!facts) {
      err << "lumivane-cli: " << EscapeForTerminal(names[i]) << ": " << EscapeForTerminal(why)
          << '\n';
      status = 1;
      continue;
    }
    if (json) {
      // File names and header lines need not be UTF-8: bad bytes become
      // U+FFFD; everything beyond ASCII is escaped, so no control reaches a terminal.
      out << ToJson(names[i], *facts).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace)
          << '\n';
    } else {
      if (!first) out << '\n';
      PrintText(names[i], *facts, out);
    }
    first = false;
  }
  out.flush();
  return status;
}

}  // namespace lumivane
