#include "shell/helptexts.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace lumivane {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
// U+2022 in UTF-8.
constexpr std::string_view kBullet = "\xE2\x80\xA2";

std::string Separator(std::size_t length) {
  return std::string(length, '-');
}
std::string Indented(std::string_view text) {
  return "    " + std::string(text);
}
std::string Bullet(std::string_view text) {
  return std::string(kBullet) + "  " + std::string(text);
}

// Lines joined by CR LF; the message box breaks the text at these pairs.
std::string Join(std::initializer_list<std::string> lines, bool finalBreak) {
  std::string text;
  std::size_t index = 0;
  for (const std::string& line : lines) {
    if (index++ > 0) text += kLineBreak;
    text += line;
  }
  if (finalBreak) text += kLineBreak;
  return text;
}

}  // namespace

std::string GeneralHelpText() {
  return Join(
      {
          "____ ABOUT High Dynamic Range Tone-mapper LUMI ____",
          "",
          "LUMIVANE can read 96 bit as RLE2 compressed RGBE *.hdr",
          "files and tone-map them to 24-bit colour TIFF image files.",
          "",
          "Limitation: only Radiance RGBE with the RLE2 compression",
          "can be read. Resulting TIFF files are uncompressed.",
          "",
          "Flaws/Shortcomings: dialog does not properly update if",
          "the program loses the focus. Neither is it always redrawn.",
          "However, when job is finished, it does.",
          "",
          "The text window is a status display only. It may disappear",
          "while tone-mapping is in progress. If an error occured",
          "check the log to determine what the problem was.",
          "",
          "This is a 32-bit program with the LAA-flag set on",
          "compile time. If the computer running this program",
          "sports at least 4 GB of memory, LUMIVANE can make",
          "use of about 3.5 GB. 18,000 x 9,000 pixel 96-bit",
          "radiance files could be easily tone-mapped.",
          Separator(74),
      },
      true);
}

std::string UsageHelpText() {
  return Join(
      {
          "          ______ HOW TO USE ______",
          "",
          "1. Set the adjustment values if appropriate.",
          "2. Click on [Accept] to set the modified values.",
          "3. File > Open HDR to locate the HDRI to be",
          Indented("processed."),
          "4. Define the destibation file.",
          "",
          "Steps 1 and 2 are optional, 0.8 and 1.2 are used",
          "by default.",
          Separator(68),
          "Warm Colours: If checked, the tone-mapper uses",
          "the R, G and B colours individually. If unchecked,",
          "the average of R/G/B is used to tone-map. Default",
          "is unchecked.",
          Separator(68),
          Bullet("Brightness: lower value darker, higher value brighter."),
          Indented("This is the ERF for Photographic Tonemapping."),
          "> Fastest and mostly best conversion if set to 1.",
          "",
          Bullet("Contrast: lower value more contrast, higher less."),
          Indented("This is the gamma exponent applied after tone-"),
          Indented("mapping."),
          "> Fastest and mostly best conversion if set to 1.",
          Separator(68),
      },
      true);
}

std::string OperatorHelpText() {
  return Join(
      {
          "          ____ TONE-MAPPING OPERATOR ____",
          "",
          "This program does not tone-map in a proper scientific",
          "manner. Rather, it attempts to get a natural and",
          "hopefully pleasing result. It is based on a global",
          "operator and features post gamma adjustment.",
          Separator(66),
          "This program is based on the «Photographic Tone-",
          "mapping Function» by Erik Reinhard. The formula",
          "used is published in «High Dynamic Range Imaging»",
          "ISBN 0-12-585263-0 on p.210.",
          "",
          "This formula is applied to all colour pixels separately.",
          "Post gamma does not belong to the original formula.",
          "Gamma is applied afterwards to all pixels. If set to",
          "1, there is no post gamma applied.",
          Separator(66),
      },
      true);
}

std::string MemoryHelpText() {
  return Join(
      {
          "          ________ MEMORY USAGE ________",
          "",
          "The HDRI file is loaded into memory and decompressed.",
          "Then it is analysed, tone-mapped, converted into 24",
          "bit and saved. Then, all memory is released.",
          "",
          "Memory used can be calculated by multiplying the image",
          "width by the image height and the result by 6.",
          "M = w x h x 6.",
          "",
          "To tone-map a 30,000 x 15,000 pixel HDRI file, LUMI",
          "used 2.43 GB as measured with Process Monitor. This",
          "fits 30,000 x 15,000 x 6 = 2,700,000,000 Bytes = 2.51 GB.",
          "",
          "The resulting TIFF file size is w x h x 3 + 308, for the",
          "above file 30,000 x 15,000 x 3 + 308 = 1,350,000,308 Bytes.",
          Separator(76),
      },
      true);
}

std::string TimeHelpText() {
  return Join(
      {
          "     ____ TIME NEEDED AND CPU UTILISED ____",
          "",
          "Half of the total time is needed for the actual tone-",
          "mapping. If both variables are set to 1, the times are",
          "",
          "27.9% for file loading and decompressing,",
          "16.7% for analising - finding max, min and averages,",
          "52.6% for tone-mapping, and",
          "  2.8% for writing the resulting TIFF file.",
          "",
          "If the user values are not set to 1 (as in the default case),",
          "the tone-mapping part will take almost 1-1/2 times as long.",
          "Tone-mapping is the only part that takes longer. From the",
          "total time used in this case:",
          "",
          "16.2% for file loading and decompressing,",
          "  9.7% for analising - finding max, min and averages,",
          "72.5% for tone-mapping, and",
          "  1.6% for writing the resulting TIFF file.",
          Separator(70),
          "LUMI uses only one processor core in a multi-core",
          "multi-threading environment. Tone-mapping a 30,000",
          "x 15,000 HDRI on a 8-way i7 920 takes:",
          "",
          "3 min 37 sec if both user values are 1,",
          "6 min 11 sec if the default values are used.",
          Separator(70),
      },
      true);
}

std::string ConvertHelpText() {
  return Join(
      {
          "     _______ CONVERT _______",
          "",
          "File conversions do not tone-map.",
          "",
          "Rather, the input file data is",
          "decoded, a file header for the",
          "destination file written and the",
          "decoded image data appended.",
          "",
          "HDR = High Dynamic Range Radiance.",
          "TIFF = Tagged Image File Format.",
          "PFM = Portable Float Map.",
          "",
          "HDR: RGBE RLE v2 colour format.",
          "TIFF: 96-bit Float colour format.",
          "PFM: 96-bit Float colour format.",
          Separator(50),
      },
      true);
}

std::string AboutHelpText() {
  return Join(
      {
          "LUMIVANE.exe - v.1.22:140329",
          "",
          "DISCLAIMER:",
          "",
          "",
          Separator(35),
          "Compiled with GNU g++ 12 as C++20,",
          "built with CMake 3.25 and Ninja 1.11.",
          "",
          "Window by Qt 6.4, tests by GoogleTest 1.12.",
          "Command line by CLI11 2.1.",
          "About 5,200 lines of C++ source code.",
          "",
          "LUMIVANE developers",
          "https://lumivane.example.org",
          Separator(35),
      },
      false);
}

}  // namespace lumivane
