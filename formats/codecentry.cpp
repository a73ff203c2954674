#include "formats/codectable.h"

extern "C" __attribute__((visibility("default"))) const lumivane::CodecTable*
lumivane_codec_table() {
  namespace c = lumivane::codecs;
  static const lumivane::CodecTable table = {
      LUMIVANE_VERSION, c::OpenExrRows,  c::OpenExrSink,           c::OpenPngSink,
      c::OpenJpegSink,  c::OpenTiffRows, c::NeedsGeneralTiffReader};
  return &table;
}
