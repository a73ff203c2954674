#include "formats/jpeginfo.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>
#include <lcms2.h>

#include <algorithm>
#include <memory>

#include "formats/jpegerrors.h"

namespace lumivane {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 16;
// A marker segment holds at most 65533 bytes after its length.
constexpr unsigned kMarkerBytes = 0xFFFF;

struct SourceBytes {
  jpeg_source_mgr Manager;
  ByteSource* Bytes;
  JpegErrors* Errors;
  std::uint64_t Offset;
  JOCTET Buffer[kBufferBytes];
};

void StartSource(j_decompress_ptr) {}

boolean FillSource(j_decompress_ptr info) {
  auto* source = reinterpret_cast<SourceBytes*>(info->src);
  if (source->Offset >= kMaxJpegHeaderBytes) {
    source->Errors->Message = "its markers before the image data take more than 32 MiB";
    ERREXIT(info, JERR_INPUT_EOF);
  }
  const std::size_t got = source->Bytes->ReadAt(source->Buffer, kBufferBytes, source->Offset);
  if (got == 0) ERREXIT(info, JERR_INPUT_EOF);
  source->Offset += got;
  source->Manager.next_input_byte = source->Buffer;
  source->Manager.bytes_in_buffer = got;
  return TRUE;
}

void SkipSource(j_decompress_ptr info, long count) {
  jpeg_source_mgr& manager = *info->src;
  while (count > 0) {
    if (manager.bytes_in_buffer == 0) FillSource(info);
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), manager.bytes_in_buffer);
    manager.next_input_byte += n;
    manager.bytes_in_buffer -= n;
    count -= static_cast<long>(n);
  }
}

void TermSource(j_decompress_ptr) {}

const char* ColourSpaceName(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_GRAYSCALE:
      return "grey";
    case JCS_RGB:
      return "RGB";
    case JCS_YCbCr:
      return "YCbCr";
    case JCS_CMYK:
      return "CMYK";
    case JCS_YCCK:
      return "YCCK";
    default:
      return "unknown";
  }
}

std::string ProfileDescription(const JOCTET* profile, unsigned length) {
  cmsHPROFILE opened = cmsOpenProfileFromMem(profile, length);
  if (!opened) return {};
  char text[256] = {};
  cmsGetProfileInfoASCII(opened, cmsInfoDescription, "en", "US", text, sizeof text);
  cmsCloseProfile(opened);
  return text;
}

// What libjpeg holds, after a header read whole or in part.
void Describe(const jpeg_decompress_struct& info, JpegDescription& description) {
  description.Width = info.image_width;
  description.Height = info.image_height;
  description.BitDepth = info.data_precision;
  description.Components = info.num_components;
  description.ColourSpace = ColourSpaceName(info.jpeg_color_space);
  description.Coding = info.progressive_mode ? "progressive" : "sequential";
  if (info.arith_code) description.Coding += ", arithmetic";
  description.Jfif = info.saw_JFIF_marker;
  for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
    if (m->marker == JPEG_COM)
      description.Comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
}

// libjpeg may jump out of this frame, which holds no object with a destructor.
bool ReadHeader(jpeg_decompress_struct& info, SourceBytes& source, JOCTET** profile,
                unsigned* length) {
  if (setjmp(source.Errors->Jump)) return false;
  jpeg_create_decompress(&info);
  info.src = &source.Manager;
  jpeg_save_markers(&info, JPEG_COM, kMarkerBytes);
  jpeg_save_markers(&info, JPEG_APP0 + 2, kMarkerBytes);
  jpeg_read_header(&info, TRUE);
  jpeg_read_icc_profile(&info, profile, length);
  return true;
}

}  // namespace

bool IsJpegSignature(std::string_view firstBytes) {
  return firstBytes.size() >= 3 && static_cast<unsigned char>(firstBytes[0]) == 0xFF &&
         static_cast<unsigned char>(firstBytes[1]) == 0xD8 &&
         static_cast<unsigned char>(firstBytes[2]) == 0xFF;
}

JpegDescription DescribeJpeg(ByteSource& bytes) {
  JpegDescription description;
  JpegErrors errors{};
  jpeg_decompress_struct info{};
  info.err = UseJpegErrors(errors);
  auto source = std::make_unique<SourceBytes>();
  source->Manager.init_source = StartSource;
  source->Manager.fill_input_buffer = FillSource;
  source->Manager.skip_input_data = SkipSource;
  source->Manager.resync_to_restart = jpeg_resync_to_restart;
  source->Manager.term_source = TermSource;
  source->Bytes = &bytes;
  source->Errors = &errors;
  JOCTET* profile = nullptr;
  unsigned length = 0;
  if (!ReadHeader(info, *source, &profile, &length))
    description.Failure = errors.Message.empty() ? "libjpeg failed" : errors.Message;
  Describe(info, description);
  if (profile) description.Profile = JpegProfile{length, ProfileDescription(profile, length)};
  std::free(profile);
  jpeg_destroy_decompress(&info);
  return description;
}

}  // namespace lumivane
