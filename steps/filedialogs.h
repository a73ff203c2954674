// The five file choices. Each opens the chosen file into the job context.
#pragma once

#include <string>
#include <vector>

#include <initializer_list>

namespace lumivane {

class Session;

bool OpenHdrDialog(Session& session);
bool OpenTiffDialog(Session& session);
bool OpenPfmDialog(Session& session);
// Any readable image: the inputs read through libraries.
bool OpenImageDialog(Session& session);
bool SaveTiffDialog(Session& session);
bool SavePfmDialog(Session& session);
// The save dialog for the formats written through libraries: `name` (such as
// "PNG") and its extensions, the first one the default, without dots.
bool SaveImageDialog(Session& session, const char* name, const std::vector<std::string>& extensions);

}  // namespace lumivane
