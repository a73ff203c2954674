// The five file choices. Each opens the chosen file into the job context.
#pragma once

namespace lumivane {

class Session;

bool OpenHdrDialog(Session& session);
bool OpenTiffDialog(Session& session);
bool OpenPfmDialog(Session& session);
// Any readable image: the inputs read through libraries.
bool OpenImageDialog(Session& session);
bool SaveTiffDialog(Session& session);
bool SavePfmDialog(Session& session);

}  // namespace lumivane
