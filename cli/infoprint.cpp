#include "cli/infoprint.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <vector>

#include "cli/escape.h"

namespace lumivane {

namespace {

// Keys in the order the manual page lists them.
using json = nlohmann::ordered_json;

constexpr const char* kChannelNames[3] = {"red", "green", "blue"};

// Finite numbers as numbers; NaN and infinities, which JSON has not, as null.
json Number(double value) {
  return std::isfinite(value) ? json(value) : json(nullptr);
}

template <typename Value>
json Optional(const std::optional<Value>& value) {
  return value ? Number(static_cast<double>(*value)) : json(nullptr);
}

json Text(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json ChannelJson(const ChannelFacts& channel) {
  const bool any = channel.Finite > 0;
  return {{"minimum", any ? Number(channel.Minimum) : json(nullptr)},
          {"maximum", any ? Number(channel.Maximum) : json(nullptr)},
          {"mean", Optional(channel.Mean())},
          {"finite", channel.Finite},
          {"below_zero", channel.BelowZero},
          {"nan", channel.NaNs},
          {"infinite", channel.Infinities}};
}

json RangeJson(const DynamicRange& range) {
  const std::optional<double> ratio = range.Ratio();
  return {{"ratio", Optional(ratio)},
          {"stops", ratio ? Number(std::log2(*ratio)) : json(nullptr)},
          {"low", Optional(range.Low)},
          {"high", Optional(range.High)},
          {"positive_pixels", range.PositivePixels}};
}

json Box(const ExrBox& box) {
  return {{"x_min", box.MinX}, {"y_min", box.MinY}, {"x_max", box.MaxX}, {"y_max", box.MaxY}};
}

json ExrPartJson(const ExrPartInfo& part) {
  json channels = json::array(), attributes = json::array();
  for (const ExrChannelInfo& c : part.Channels)
    channels.push_back({{"name", c.Name},
                        {"pixel_type", c.PixelType},
                        {"x_sampling", c.XSampling},
                        {"y_sampling", c.YSampling}});
  for (const ExrAttributeInfo& a : part.Attributes)
    attributes.push_back({{"name", a.Name}, {"type", a.Type}, {"value", Text(a.Value)}});
  json chromaticities = nullptr;
  if (const auto& c = part.Chromaticities) {
    const auto pair = [](const float(&xy)[2]) { return json::array({xy[0], xy[1]}); };
    chromaticities = {{"red", pair(c->Red)},
                      {"green", pair(c->Green)},
                      {"blue", pair(c->Blue)},
                      {"white", pair(c->White)}};
  }
  return {{"name", Text(part.Name)},
          {"storage", Text(part.Storage)},
          {"compression", Text(part.Compression)},
          {"line_order", Text(part.LineOrder)},
          {"channels", channels},
          {"data_window", Box(part.DataWindow)},
          {"display_window", Box(part.DisplayWindow)},
          {"chromaticities", chromaticities},
          {"attributes", attributes}};
}

// Whole numbers as integers, as the tags mostly hold them.
json TagNumber(double value) {
  if (std::nearbyint(value) == value && std::fabs(value) < 0x1p53)
    return json(static_cast<std::int64_t>(value));
  return Number(value);
}

json TiffEntryJson(const TiffEntry& entry) {
  json value = nullptr;
  if (entry.Problem.empty() && entry.IsText) value = entry.Text;
  if (entry.Problem.empty() && !entry.IsText) {
    value = json::array();
    for (const double number : entry.Numbers) value.push_back(TagNumber(number));
  }
  return {{"tag", entry.Tag},     {"name", Text(entry.Name)}, {"type", entry.Type},
          {"count", entry.Count}, {"value", value},           {"problem", Text(entry.Problem)}};
}

json XyJson(const double (&xy)[2]) {
  return json::array({Number(xy[0]), Number(xy[1])});
}

json PngJson(const PngDescription& png) {
  json texts = json::array();
  for (const PngText& t : png.Texts)
    texts.push_back({{"chunk", t.Chunk},
                     {"keyword", t.Keyword},
                     {"text", t.Text},
                     {"language", Text(t.Language)}});
  json chromaticities = nullptr;
  if (const auto& c = png.Chromaticities)
    chromaticities = {{"red", XyJson(c->Red)},
                      {"green", XyJson(c->Green)},
                      {"blue", XyJson(c->Blue)},
                      {"white", XyJson(c->White)}};
  return {{"bit_depth", png.BitDepth},
          {"colour_type", png.ColourType},
          {"interlaced", png.Interlaced},
          {"srgb", png.SrgbIntent ? json(*png.SrgbIntent) : json(nullptr)},
          {"gamma", Optional(png.Gamma)},
          {"chromaticities", chromaticities},
          {"icc_profile", png.IccProfileName ? json(*png.IccProfileName) : json(nullptr)},
          {"texts", texts},
          {"error", Text(png.Failure)}};
}

json JpegJson(const JpegDescription& jpeg) {
  json profile = nullptr;
  if (jpeg.Profile)
    profile = {{"bytes", jpeg.Profile->Bytes}, {"description", Text(jpeg.Profile->Description)}};
  return {{"bit_depth", jpeg.BitDepth},
          {"components", jpeg.Components},
          {"colour_space", jpeg.ColourSpace},
          {"coding", jpeg.Coding},
          {"jfif", jpeg.Jfif},
          {"icc_profile", profile},
          {"comments", jpeg.Comments},
          {"error", Text(jpeg.Failure)}};
}

json HeaderJson(const FileFacts& facts) {
  if (facts.Png) return PngJson(*facts.Png);
  if (facts.Jpeg) return JpegJson(*facts.Jpeg);
  if (facts.Radiance)
    return {{"lines", facts.Radiance->Lines},
            {"resolution", Text(facts.Radiance->Resolution)},
            {"error", Text(facts.Radiance->Failure)}};
  if (facts.Pfm) return {{"lines", facts.Pfm->Lines}, {"error", Text(facts.Pfm->Failure)}};
  if (facts.Tiff) {
    json tags = json::array();
    for (const TiffEntry& entry : facts.Tiff->Entries) tags.push_back(TiffEntryJson(entry));
    return {{"big_tiff", facts.Tiff->BigTiff},
            {"directory_offset", facts.Tiff->DirectoryOffset},
            {"tag_count", facts.Tiff->EntryCount},
            {"tags", tags},
            {"error", Text(facts.Tiff->Failure)}};
  }
  json parts = json::array();
  if (facts.Exr)
    for (const ExrPartInfo& part : facts.Exr->Parts) parts.push_back(ExrPartJson(part));
  return {{"parts", parts}, {"error", facts.Exr ? Text(facts.Exr->Failure) : json(nullptr)}};
}

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

std::string Pair(double x, double y) {
  return "(" + Decimal(x) + ", " + Decimal(y) + ")";
}

std::string BoxText(const ExrBox& box) {
  return Pair(box.MinX, box.MinY) + " - " + Pair(box.MaxX, box.MaxY);
}

void PrintExrPart(const ExrPartInfo& part, std::size_t number, std::ostream& out) {
  out << "  Part " << number << (part.Name.empty() ? "" : " \"" + part.Name + "\"") << ": "
      << part.Storage << ", compression " << part.Compression << ", line order " << part.LineOrder
      << '\n'
      << "  Channels:";
  for (const ExrChannelInfo& c : part.Channels) {
    out << ' ' << c.Name << " (" << c.PixelType;
    if (c.XSampling != 1 || c.YSampling != 1)
      out << ", sampled every " << c.XSampling << " x " << c.YSampling;
    out << ')';
  }
  out << "\n  Data window: " << BoxText(part.DataWindow) << '\n'
      << "  Display window: " << BoxText(part.DisplayWindow) << '\n';
  if (const auto& c = part.Chromaticities)
    out << "  Chromaticities: red " << Pair(c->Red[0], c->Red[1]) << ", green "
        << Pair(c->Green[0], c->Green[1]) << ", blue " << Pair(c->Blue[0], c->Blue[1]) << ", white "
        << Pair(c->White[0], c->White[1]) << '\n';
  for (const ExrAttributeInfo& a : part.Attributes)
    out << "  " << a.Name << " (" << a.Type << ")" << (a.Value.empty() ? "" : ": " + a.Value)
        << '\n';
}

void PrintTiffEntry(const TiffEntry& entry, std::ostream& out) {
  out << "  " << entry.Tag << ' ' << (entry.Name.empty() ? "(unknown tag)" : entry.Name) << " ("
      << entry.Type << ", " << entry.Count << "): ";
  if (!entry.Problem.empty()) {
    out << entry.Problem << '\n';
    return;
  }
  if (entry.IsText) {
    out << '"' << entry.Text << '"' << '\n';
    return;
  }
  for (std::size_t i = 0; i < entry.Numbers.size(); ++i)
    out << (i ? " " : "") << Decimal(entry.Numbers[i]);
  if (entry.Numbers.size() < entry.Count)
    out << " ... (the first " << entry.Numbers.size() << " of " << entry.Count << ")";
  out << '\n';
}

void PrintPngHeader(const PngDescription& png, std::ostream& out) {
  out << "Image header: " << png.BitDepth << "-bit " << png.ColourType
      << (png.Interlaced ? ", interlaced" : ", not interlaced") << '\n';
  std::vector<std::string> colour;
  if (png.SrgbIntent) colour.push_back("sRGB (" + *png.SrgbIntent + ")");
  if (png.Gamma) colour.push_back("gamma " + Decimal(*png.Gamma));
  if (const auto& c = png.Chromaticities)
    colour.push_back("chromaticities white " + Pair(c->White[0], c->White[1]) + ", red " +
                     Pair(c->Red[0], c->Red[1]) + ", green " + Pair(c->Green[0], c->Green[1]) +
                     ", blue " + Pair(c->Blue[0], c->Blue[1]));
  if (png.IccProfileName) colour.push_back("ICC profile \"" + *png.IccProfileName + "\"");
  out << "Colour: ";
  for (std::size_t i = 0; i < colour.size(); ++i) out << (i ? "; " : "") << colour[i];
  out << (colour.empty() ? "no sRGB, gAMA, cHRM or iCCP chunk\n" : "\n");
  if (png.Texts.empty()) {
    out << "Texts: none\n";
    return;
  }
  out << "Texts (before the image data):\n";
  for (const PngText& t : png.Texts)
    out << "  " << t.Keyword << " (" << t.Chunk
        << (t.Language.empty() ? "" : ", language " + t.Language) << "): \"" << t.Text << "\"\n";
}

void PrintJpegHeader(const JpegDescription& jpeg, std::ostream& out) {
  out << "Frame: " << jpeg.BitDepth << "-bit, " << jpeg.Components << " component"
      << (jpeg.Components == 1 ? "" : "s") << " (" << jpeg.ColourSpace << "), " << jpeg.Coding
      << (jpeg.Jfif ? ", JFIF" : "") << '\n';
  if (jpeg.Profile)
    out << "ICC profile: " << jpeg.Profile->Bytes << " bytes"
        << (jpeg.Profile->Description.empty() ? "" : ", \"" + jpeg.Profile->Description + "\"")
        << '\n';
  else
    out << "ICC profile: none\n";
  if (jpeg.Comments.empty()) {
    out << "Comments: none\n";
    return;
  }
  out << "Comments (COM segments):\n";
  for (const std::string& comment : jpeg.Comments) out << "  \"" << comment << "\"\n";
}

// The header lines, each escaped for the terminal.
std::string HeaderText(const FileFacts& facts) {
  std::ostringstream out;
  if (facts.Radiance) {
    out << "Header (as it stands in the file, up to the blank line):\n";
    for (const std::string& line : facts.Radiance->Lines) out << "  " << line << '\n';
    if (!facts.Radiance->Resolution.empty())
      out << "Resolution line: " << facts.Radiance->Resolution << '\n';
  } else if (facts.Pfm) {
    out << "Header (as it stands in the file):\n";
    for (const std::string& line : facts.Pfm->Lines) out << "  " << line << '\n';
  } else if (facts.Tiff) {
    out << "Tags of the first image (" << facts.Tiff->EntryCount << ", at byte "
        << facts.Tiff->DirectoryOffset << (facts.Tiff->BigTiff ? ", BigTIFF" : "") << "):\n";
    for (const TiffEntry& entry : facts.Tiff->Entries) PrintTiffEntry(entry, out);
    if (facts.Tiff->Entries.size() < facts.Tiff->EntryCount)
      out << "  ... (the first " << facts.Tiff->Entries.size() << " shown)\n";
  } else if (facts.Exr) {
    out << "Header attributes:\n";
    for (std::size_t i = 0; i < facts.Exr->Parts.size(); ++i)
      PrintExrPart(facts.Exr->Parts[i], i + 1, out);
  } else if (facts.Png) {
    PrintPngHeader(*facts.Png, out);
  } else if (facts.Jpeg) {
    PrintJpegHeader(*facts.Jpeg, out);
  }
  const std::string failure = HeaderFailure(facts);
  if (!failure.empty()) out << "  (the header cannot be read further: " << failure << ")\n";
  std::string escaped;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) escaped += EscapeForTerminal(line) + '\n';
  return escaped;
}

void PrintChannels(const FileFacts& facts, std::ostream& out) {
  out << "Channels (minimum, maximum and mean of the finite values; counts of values below "
         "zero, NaN and infinite):\n";
  for (int c = 0; c < 3; ++c) {
    const ChannelFacts& channel = facts.Channels[c];
    out << "  " << kChannelNames[c] << ": ";
    if (channel.Finite == 0)
      out << "no finite value";
    else
      out << "minimum " << Decimal(channel.Minimum) << ", maximum " << Decimal(channel.Maximum)
          << ", mean " << Decimal(*channel.Mean());
    out << "; below zero " << channel.BelowZero << ", NaN " << channel.NaNs << ", infinite "
        << channel.Infinities << '\n';
  }
}

void PrintDynamicRange(const DynamicRange& range, std::ostream& out) {
  const std::optional<double> ratio = range.Ratio();
  if (!ratio) {
    out << "Dynamic range: none (no pixel has a luminance above 0)\n";
    return;
  }
  out << "Dynamic range: " << Decimal(*ratio) << " : 1 (" << Decimal(std::log2(*ratio))
      << " stops), the 99.9th percentile of the luminance (Rec. 709 weights) over the 0.1st, "
      << Decimal(*range.High) << " over " << Decimal(*range.Low) << ", of the "
      << range.PositivePixels << " pixels where it is above 0\n";
}

}  // namespace

nlohmann::ordered_json InfoJson(const std::string& file, const FileFacts& facts) {
  json channels = json::object();
  for (int c = 0; c < 3; ++c) channels[kChannelNames[c]] = ChannelJson(facts.Channels[c]);
  return {
      {"file", file},
      {"format", std::string(facts.Format->Name)},
      {"width", facts.Width},
      {"height", facts.Height},
      {"byte_order", facts.BigEndian ? json(*facts.BigEndian ? "big" : "little") : json(nullptr)},
      {"header", HeaderJson(facts)},
      {"channels", facts.PixelsRead ? channels : json(nullptr)},
      {"dynamic_range", facts.PixelsRead ? RangeJson(facts.Range) : json(nullptr)},
      {"rows_complete", facts.RowsComplete ? json(*facts.RowsComplete) : json(nullptr)}};
}

std::string RowsCompleteText(const FileFacts& facts) {
  if (!facts.RowsComplete || *facts.RowsComplete >= facts.Height) return {};
  return "Pixel data end early: " + std::to_string(*facts.RowsComplete) + " of " +
         std::to_string(facts.Height) + " rows complete.";
}

void PrintInfoText(const std::string& name, const FileFacts& facts, std::ostream& out) {
  out << EscapeForTerminal(name) << '\n'
      << "Format: " << facts.Format->Name << '\n'
      << "Size: " << facts.Width << " x " << facts.Height << " pixels\n"
      << "Byte order: " << (facts.BigEndian ? (*facts.BigEndian ? "big" : "little") : "none")
      << '\n'
      << HeaderText(facts);
  const std::string rows = RowsCompleteText(facts);
  if (!rows.empty()) out << rows << '\n';
  if (!facts.PixelsRead) {
    out << "Pixels: not read (" << facts.Format->Name
        << " is written by tone-mapping, never read as an input)\n";
    return;
  }
  PrintChannels(facts, out);
  PrintDynamicRange(facts.Range, out);
}

}  // namespace lumivane
