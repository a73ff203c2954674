#include "tests/interop/peers.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>

#include "imaging/statistics.h"
#include "imaging/tonemap.h"

namespace lumivane::interop {

bool HavePeers(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name == "tifffile") {
      const std::string probe = std::string(kPython) + " -c 'import tifffile, numpy' 2>/dev/null";
      if (testing::RunCommand(probe) != 0) return false;
    } else if (!testing::HaveTool(name)) {
      return false;
    }
  }
  return true;
}

namespace {

// A deterministic spread of small integers over the pixels.
std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t c) {
  std::uint32_t h = x * 73856093u ^ y * 19349663u ^ (c + 1) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

}  // namespace

FloatImage Scene(std::uint32_t width, std::uint32_t height) {
  FloatImage image{width, height, {}};
  const std::uint32_t runStart = width / 4;
  const std::uint32_t runEnd = runStart + std::max<std::uint32_t>(1, width / 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      if ((x + 2 * y) % 11 == 10) {
        image.Values.insert(image.Values.end(), {0.0f, 0.0f, 0.0f});
      } else if (x >= runStart && x < runEnd) {
        const auto row = static_cast<float>(y);
        image.Values.insert(image.Values.end(), {0.5f + row, 0.03125f * (row + 1), 40.0f});
      } else {
        for (std::uint32_t c = 0; c < 3; ++c) {
          const double fraction = (Hash(x, y, c) % 1001) / 1000.0;
          image.Values.push_back(static_cast<float>(1e-3 * std::pow(10.0, 7.0 * fraction)));
        }
      }
    }
  }
  return image;
}

FloatImage QuantumScene(std::uint32_t width, std::uint32_t height) {
  FloatImage image{width, height, {}};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      for (std::uint32_t c = 0; c < 3; ++c) {
        std::uint32_t k = Hash(x, y, c) % 65536;
        if ((x + y) % 7 == 3) k = c == 0 ? 65535 : 0;
        image.Values.push_back(static_cast<float>(k / 65535.0));
      }
    }
  }
  return image;
}

FloatImage GreyScene(std::uint32_t width, std::uint32_t height) {
  FloatImage image{width, height, {}};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double fraction = (Hash(x, y, 0) % 1001) / 1000.0;
      const auto grey = static_cast<float>(1e-3 * std::pow(10.0, 5.0 * fraction * fraction));
      image.Values.insert(image.Values.end(), {grey, grey, grey});
    }
  }
  return image;
}

namespace {

// Reads whitespace-separated header fields, skipping '#' comments as PNM does.
class HeaderFields {
 public:
  explicit HeaderFields(const Bytes& file) : file_(file) {}
  std::optional<std::string> Next(bool comments) {
    while (at_ < file_.size()) {
      if (std::isspace(file_[at_])) {
        ++at_;
      } else if (comments && file_[at_] == '#') {
        while (at_ < file_.size() && file_[at_] != '\n') ++at_;
      } else {
        break;
      }
    }
    std::string field;
    while (at_ < file_.size() && !std::isspace(file_[at_]))
      field += static_cast<char>(file_[at_++]);
    if (field.empty()) return std::nullopt;
    return field;
  }
  // The single whitespace byte that ends the header.
  std::size_t DataStart() const { return at_ + 1; }

 private:
  const Bytes& file_;
  std::size_t at_ = 0;
};

std::optional<std::uint32_t> Size(const std::optional<std::string>& field) {
  if (!field || field->empty() || field->find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(*field));
}

float FloatAt(const std::uint8_t* bytes, bool intelOrder) {
  std::uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t byte = bytes[intelOrder ? i : 3 - i];
    bits |= byte << (8 * i);
  }
  return std::bit_cast<float>(bits);
}

}  // namespace

std::optional<FloatImage> ParsePfm(const Bytes& file) {
  HeaderFields fields(file);
  if (fields.Next(false) != "PF") return std::nullopt;
  const auto width = Size(fields.Next(false));
  const auto height = Size(fields.Next(false));
  const auto scale = fields.Next(false);
  if (!width || !height || !scale) return std::nullopt;
  const bool intel = std::stod(*scale) < 0;
  const std::size_t start = fields.DataStart();
  const std::size_t rowValues = std::size_t{*width} * 3;
  if (file.size() != start + rowValues * *height * 4) return std::nullopt;
  FloatImage image{*width, *height, std::vector<float>(rowValues * *height)};
  for (std::uint32_t stored = 0; stored < *height; ++stored) {
    const std::size_t top = (*height - 1 - stored) * rowValues;
    for (std::size_t i = 0; i < rowValues; ++i)
      image.Values[top + i] = FloatAt(&file[start + (stored * rowValues + i) * 4], intel);
  }
  return image;
}

std::optional<FloatImage> TifffileFloats(const TempDir& dir, const std::string& path) {
  const std::string script = dir.File("tifffile_floats.py");
  testing::WriteText(script,
                     "import sys, tifffile\n"
                     "page = tifffile.TiffFile(sys.argv[1]).pages[0]\n"
                     "a = page.asarray()\n"
                     "assert a.dtype.kind == 'f' and a.dtype.itemsize == 4, a.dtype\n"
                     "a = a.reshape(page.imagelength, page.imagewidth, 3)\n"
                     "sys.stdout.buffer.write(b'%d %d\\n' % (page.imagewidth, page.imagelength))\n"
                     "sys.stdout.buffer.write(a.astype('<f4').tobytes())\n");
  const Ran ran = Shell(dir, std::string(kPython) + " " + Quote(script) + " " + Quote(path));
  if (ran.Status != 0) return std::nullopt;
  const std::size_t lineEnd = ran.Out.find('\n');
  if (lineEnd == std::string::npos) return std::nullopt;
  std::istringstream sizes(ran.Out.substr(0, lineEnd));
  FloatImage image;
  sizes >> image.Width >> image.Height;
  const std::size_t count = std::size_t{image.Width} * image.Height * 3;
  if (ran.Out.size() != lineEnd + 1 + count * 4) return std::nullopt;
  image.Values.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    image.Values[i] =
        FloatAt(reinterpret_cast<const std::uint8_t*>(ran.Out.data() + lineEnd + 1 + 4 * i), true);
  return image;
}

std::optional<Rgb8Image> ParsePpm(const Bytes& file) {
  HeaderFields fields(file);
  if (fields.Next(true) != "P6") return std::nullopt;
  const auto width = Size(fields.Next(true));
  const auto height = Size(fields.Next(true));
  if (!width || !height || fields.Next(true) != "255") return std::nullopt;
  const std::size_t start = fields.DataStart();
  const std::size_t count = std::size_t{*width} * *height * 3;
  if (file.size() != start + count) return std::nullopt;
  return Rgb8Image{*width, *height,
                   Bytes(file.begin() + static_cast<std::ptrdiff_t>(start), file.end())};
}

std::optional<Bytes> TiffinfoPixelBytes(const TempDir& dir, const std::string& path) {
  const Ran ran = Shell(dir, "tiffinfo -d " + Quote(path));
  if (ran.Status != 0 || !ran.Err.empty()) return std::nullopt;
  std::istringstream lines(ran.Out);
  std::string line;
  bool inStrips = false;
  Bytes bytes;
  while (std::getline(lines, line)) {
    if (line.starts_with("Strip ")) {
      inStrips = true;
      continue;
    }
    if (!inStrips) continue;
    std::istringstream pairs(line);
    std::string pair;
    while (pairs >> pair) {
      if (pair.size() != 2 || !std::isxdigit(pair[0]) || !std::isxdigit(pair[1]))
        return std::nullopt;
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    }
  }
  return bytes;
}

FloatImage OurTiff96(const Bytes& file, std::uint32_t width, std::uint32_t height) {
  FloatImage image{width, height, {}};
  const std::size_t count = std::size_t{width} * height * 3;
  if (file.size() != 308 + count * 4) return image;
  image.Values.resize(count);
  for (std::size_t i = 0; i < count; ++i) image.Values[i] = FloatAt(&file[308 + 4 * i], true);
  return image;
}

std::optional<RgbeCode> RgbeCodeOf(float value) {
  if (!(value > 0) || !std::isfinite(value)) return std::nullopt;
  for (int e = 0; e < 256; ++e) {
    const double odd = std::ldexp(static_cast<double>(value), 137 - e);
    if (odd >= 1 && odd <= 511 && odd == std::floor(odd) && std::fmod(odd, 2.0) == 1.0)
      return RgbeCode{static_cast<int>(odd - 1) / 2, e};
  }
  return std::nullopt;
}

Bytes ExpectedToneMap(const FloatImage& image, float brightness, float postGamma, bool warm,
                      bool radiance) {
  ChannelAccumulators accumulators;
  const std::size_t pixels = std::size_t{image.Width} * image.Height;
  for (std::size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 3; ++c) accumulators[c].Add(image.Values[3 * i + c]);
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, static_cast<std::uint32_t>(pixels), warm);
  Bytes out(pixels * 3);
  for (std::size_t i = 0; i < pixels * 3; ++i) {
    const std::size_t c = i % 3;
    out[i] =
        ToneMapChannel(image.Values[i], statistics.Minimum[c], statistics.Average[c], brightness,
                       postGamma, radiance ? OperatorWidth::Single : OperatorWidth::Double);
  }
  return out;
}

float PixelMaximum(const FloatImage& image, std::size_t pixel) {
  return std::max(
      {image.Values[3 * pixel], image.Values[3 * pixel + 1], image.Values[3 * pixel + 2]});
}

}  // namespace lumivane::interop
