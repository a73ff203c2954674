// Portable Float Maps as float rows, more tolerant than the classic PFM reader:
// "Pf" grey (given to R, G and B), every other spelling of "PF" in any
// letter case colour, and `#` comment lines between the header lines as ImageMagick
// writes them. Rows are stored bottom first and handed out top first.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "formats/bytesource.h"
#include "formats/imagerows.h"
#include "formats/readlimits.h"

namespace lumivane {

// Nothing, with `error` set to the reason in words, when the file is no PFM
// this reader takes, claims more than `limits` allow, or is shorter than its
// header promises.
std::unique_ptr<ImageRowSource> OpenPfmRows(std::unique_ptr<ByteSource> bytes,
                                            const ReadLimits& limits, std::string& error);

// Whether a PFM starting with `head` holds what the classic reader refuses or
// misreads but OpenPfmRows reads: one grey channel ("Pf"), or comment lines
// in its header.
bool NeedsGeneralPfmReader(std::string_view head);

}  // namespace lumivane
