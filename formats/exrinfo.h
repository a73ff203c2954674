// An OpenEXR file's headers as they stand, for `info`, read through the
// library's core: no pixel and no chunk table is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

struct ExrBox {
  std::int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
};

struct ExrChannelInfo {
  std::string Name;
  std::string PixelType;  // "half", "float", "uint"
  std::int32_t XSampling = 1, YSampling = 1;
};

struct ExrChromaticities {
  float Red[2], Green[2], Blue[2], White[2];
};

// Every attribute beyond those that ExrPartInfo holds apart.
struct ExrAttributeInfo {
  std::string Name;
  std::string Type;  // the file's type name: "string", "v2f", "m44f", ...
  // The value in words for the types the library knows; empty otherwise.
  std::string Value;
};

struct ExrPartInfo {
  std::string Name;         // the part's name; empty when it has none
  std::string Storage;      // "scanline", "tiled", "deep scanline", "deep tiled"
  std::string Compression;  // "none", "zip", "dwab", ...
  std::string LineOrder;    // "increasing y", "decreasing y", "random y"
  std::vector<ExrChannelInfo> Channels;
  ExrBox DataWindow, DisplayWindow;
  std::optional<ExrChromaticities> Chromaticities;
  std::vector<ExrAttributeInfo> Attributes;
};

struct ExrDescription {
  std::vector<ExrPartInfo> Parts;
  // The library's reason when it cannot read the headers; empty when it can.
  std::string Failure;
};

ExrDescription DescribeExr(ByteSource& bytes);

}  // namespace lumivane
