// The header writer step of every output written through a row sink (PNG,
// JPEG, OpenEXR, Radiance, and the classic float files for pairs the menu has
// no command for): the save dialog, the header, and the sink for the job.
#pragma once

#include "formats/formattable.h"
#include "steps/session.h"

namespace lumivane {

// The sink goes to ToneMappedRows when `toneMapped` (ToneMappedWords at a
// depth of 16), else to ConvertedRows.
JobStep RowOutputWriter(const FormatRow& output, bool toneMapped, const SinkOptions& options);

// `withAlpha` where the input's alpha goes to the output, else `without`:
// the 8-bit TIFF keeps the classic writer for RGB.
JobStep KeepingAlphaOr(JobStep withAlpha, JobStep without);

// Writes what a sink still holds; true for no sink at all.
bool FinishSink(ByteRowSink* sink);

}  // namespace lumivane
