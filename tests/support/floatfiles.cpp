#include "tests/support/floatfiles.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "shell/dispatch.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {

FloatImage GradientImage(std::uint32_t width, std::uint32_t height) {
  FloatImage image{width, height, {}};
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const float base = static_cast<float>(height - y) * 4.0f + 0.25f * static_cast<float>(x);
      image.Values.push_back(base);
      image.Values.push_back(base * 0.5f + 0.125f);
      image.Values.push_back(base * 0.25f + 0.0625f);
    }
  return image;
}

Bytes FloatBytes(float value, bool intelOrder) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  Bytes out = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
               static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
  if (!intelOrder) std::swap(out[0], out[3]), std::swap(out[1], out[2]);
  return out;
}

Bytes PixelRows(const FloatImage& image, std::uint32_t first, std::uint32_t count,
                bool intelOrder) {
  Bytes out;
  const std::size_t begin = std::size_t{first} * image.Width * 3;
  const std::size_t end = begin + std::size_t{count} * image.Width * 3;
  for (std::size_t i = begin; i < end; ++i) {
    const Bytes value = FloatBytes(image.Values[i], intelOrder);
    out.insert(out.end(), value.begin(), value.end());
  }
  return out;
}

TiffBuilder::TiffBuilder(bool intelOrder) : intel_(intelOrder) {
  body_ = intelOrder ? Bytes{'I', 'I'} : Bytes{'M', 'M'};
  const Bytes version = Short(42);
  body_.insert(body_.end(), version.begin(), version.end());
  body_.resize(8);
}

Bytes TiffBuilder::Short(std::uint16_t value) const {
  return intel_ ? Bytes{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}
                : Bytes{static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes TiffBuilder::Long(std::uint32_t value) const {
  Bytes low = Short(static_cast<std::uint16_t>(value));
  Bytes high = Short(static_cast<std::uint16_t>(value >> 16));
  if (intel_) {
    low.insert(low.end(), high.begin(), high.end());
    return low;
  }
  high.insert(high.end(), low.begin(), low.end());
  return high;
}

Bytes TiffBuilder::Shorts(const std::vector<std::uint16_t>& values) const {
  Bytes out;
  for (const auto v : values) {
    const Bytes b = Short(v);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes TiffBuilder::Longs(const std::vector<std::uint32_t>& values) const {
  Bytes out;
  for (const auto v : values) {
    const Bytes b = Long(v);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

std::uint32_t TiffBuilder::Append(const Bytes& bytes) {
  const auto offset = static_cast<std::uint32_t>(body_.size());
  body_.insert(body_.end(), bytes.begin(), bytes.end());
  return offset;
}

void TiffBuilder::Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                        const Bytes& valueField) {
  if (valueField.size() > 4) throw std::invalid_argument("value field longer than 4 bytes");
  std::array<std::uint8_t, 12> entry{};
  const Bytes t = Short(tag), ty = Short(type), c = Long(count);
  std::memcpy(entry.data(), t.data(), 2);
  std::memcpy(entry.data() + 2, ty.data(), 2);
  std::memcpy(entry.data() + 4, c.data(), 4);
  std::memcpy(entry.data() + 8, valueField.data(), valueField.size());
  entries_.push_back(entry);
}

void TiffBuilder::Data(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                       const Bytes& data) {
  if (data.size() <= 4) return Entry(tag, type, count, data);
  Entry(tag, type, count, Long(Append(data)));
}

Bytes TiffBuilder::Build() const {
  return BuildWithIfdOffset(0);
}

Bytes TiffBuilder::BuildWithIfdOffset(std::uint32_t offset) const {
  Bytes out = body_;
  if (out.size() % 2) out.push_back(0);
  const auto ifd = static_cast<std::uint32_t>(out.size());
  const Bytes count = Short(static_cast<std::uint16_t>(entries_.size()));
  out.insert(out.end(), count.begin(), count.end());
  for (const auto& entry : entries_) out.insert(out.end(), entry.begin(), entry.end());
  out.insert(out.end(), 4, 0);
  const Bytes where = Long(offset ? offset : ifd);
  std::memcpy(out.data() + 4, where.data(), 4);
  return out;
}

Bytes FloatTiff(const FloatImage& image, const FloatTiffOptions& options) {
  TiffBuilder tiff(options.IntelOrder);
  const std::uint32_t perStrip = options.RowsPerStrip ? options.RowsPerStrip : image.Height;
  std::vector<std::uint32_t> offsets, counts;
  std::vector<std::uint32_t> firstRows;
  for (std::uint32_t row = 0; row < image.Height; row += perStrip) firstRows.push_back(row);
  offsets.resize(firstRows.size());
  counts.resize(firstRows.size());
  std::vector<std::size_t> order(firstRows.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = options.StripsReversed ? order.size() - 1 - i : i;
  for (const std::size_t strip : order) {
    const std::uint32_t rows = std::min(perStrip, image.Height - firstRows[strip]);
    if (options.StripGap && strip != order.front()) tiff.Append(Bytes(options.StripGap, 0xEE));
    const Bytes pixels = PixelRows(image, firstRows[strip], rows, options.IntelOrder);
    offsets[strip] = tiff.Append(pixels);
    counts[strip] = static_cast<std::uint32_t>(pixels.size());
  }
  const auto strips = static_cast<std::uint32_t>(offsets.size());
  tiff.Entry(256, 4, 1, tiff.Long(image.Width));
  tiff.Entry(257, 4, 1, tiff.Long(image.Height));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(259, 3, 1, tiff.Short(1));
  tiff.Entry(262, 3, 1, tiff.Short(2));
  tiff.Data(273, 4, strips, tiff.Longs(offsets));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Entry(278, 4, 1, tiff.Long(perStrip));
  tiff.Data(279, 4, strips, tiff.Longs(counts));
  tiff.Entry(284, 3, 1, tiff.Short(1));
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  return tiff.Build();
}

Bytes Pfm(const std::string& header, const FloatImage& image, bool intelOrder) {
  Bytes out(header.begin(), header.end());
  for (std::uint32_t row = image.Height; row-- > 0;) {
    const Bytes pixels = PixelRows(image, row, 1, intelOrder);
    out.insert(out.end(), pixels.begin(), pixels.end());
  }
  return out;
}

Bytes StandardPfm(const FloatImage& image, bool intelOrder) {
  return Pfm("PF\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n" +
                 (intelOrder ? "-1.0\n" : "1.0\n"),
             image, intelOrder);
}

FloatImage ParseLittleEndianPfm(const Bytes& file) {
  std::size_t at = 0;
  const auto line = [&] {
    const std::size_t end = std::find(file.begin() + at, file.end(), '\n') - file.begin();
    std::string text(file.begin() + at, file.begin() + end);
    at = end + 1;
    return text;
  };
  if (line() != "PF") throw std::runtime_error("not a PF file");
  FloatImage image;
  const std::string size = line();
  image.Width = static_cast<std::uint32_t>(std::stoul(size));
  image.Height = static_cast<std::uint32_t>(std::stoul(size.substr(size.find(' '))));
  if (std::stof(line()) >= 0) throw std::runtime_error("not least significant byte first");
  const std::size_t rowValues = std::size_t{image.Width} * 3;
  if (file.size() - at < rowValues * 4 * image.Height) throw std::runtime_error("short PFM");
  image.Values.resize(rowValues * image.Height);
  for (std::uint32_t stored = 0; stored < image.Height; ++stored) {
    const std::uint32_t row = image.Height - 1 - stored;
    std::memcpy(image.Values.data() + row * rowValues, file.data() + at + stored * rowValues * 4,
                rowValues * 4);
  }
  return image;
}

JobRun RunJobCommand(int commandId, const std::string& input, const std::string& output,
                     const JobSettings& settings, const std::function<void()>& duringSave) {
  StepHarness h;
  h.Steps.Settings = settings;
  h.Window.DialogAnswers = {input, output};
  h.Window.DuringDialog = [&](const FileDialogRequest& request) {
    if (request.Kind == DialogKind::Save && duringSave) duringSave();
  };
  HandleCommand(h.Steps, commandId);
  JobRun run;
  run.Log = h.Window.Log;
  run.Boxes = h.Window.Boxes;
  run.Progress = h.Window.Progress;
  run.FailureMessage = h.Steps.Context.FailureMessage;
  run.OutputExists = FileExists(output);
  // A device such as /dev/full reads without end; only files hold an output.
  if (run.OutputExists && std::filesystem::is_regular_file(output)) run.Output = ReadBytes(output);
  return run;
}

Bytes TiffPixels(const Bytes& file) {
  if (file.size() < 308) return {};
  return Bytes(file.begin() + 308, file.end());
}

}  // namespace lumivane::testing
