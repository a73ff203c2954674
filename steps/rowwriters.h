// The outputs written through row sinks (PNG, JPEG, OpenEXR, Radiance, and
// the classic float files for pairs the menu has no command for): their
// header writer steps.
#pragma once

#include <memory>

#include "formats/exrwriter.h"
#include "formats/jpegwriter.h"
#include "steps/session.h"

namespace lumivane {

enum class RowOutput { Png, Jpeg, Tiff96, Pfm, Radiance, Exr };
enum class ClassicInput { Radiance, Tiff, Pfm };

struct RowOutputOptions {
  int JpegQuality = kDefaultJpegQuality;
  ExrOptions Exr;
};

// "PNG", "JPEG", "TIFF", "PFM", "HDR", "EXR"; "HDR", "TIFF", "PFM".
const char* RowOutputName(RowOutput output);
const char* ClassicInputName(ClassicInput input);
// PNG and JPEG take tone-mapped bytes, the others floats.
bool TakesToneMappedRows(RowOutput output);

// The header writer step of `output`: the save dialog, the header, and the
// sink for the job in JobContext (ToneMappedRows or ConvertedRows).
JobStep RowOutputWriter(RowOutput output, const RowOutputOptions& options);

// Writes what a sink still holds; true for no sink at all.
bool FinishSink(ByteRowSink* sink);

}  // namespace lumivane
