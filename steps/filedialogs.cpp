#include "steps/filedialogs.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "formats/formattable.h"
#include "steps/session.h"

namespace lumivane {

namespace {

FileDialogRequest Request(DialogKind kind, const char* title, std::vector<FileFilter> filters,
                          const char* extension) {
  FileDialogRequest request;
  request.Kind = kind;
  request.Title = title;
  request.Filters = std::move(filters);
  request.DefaultExtension = extension;
  std::error_code error;
  request.InitialFolder = std::filesystem::current_path(error).string();
  return request;
}

bool RunOpenDialog(Session& session, const FileDialogRequest& request) {
  const std::string path = session.Window.RunFileDialog(request);
  JobContext& context = session.Context;
  if (path.empty()) {
    // The name of an earlier job's input would be taken for this one's.
    context.InputFileName.clear();
    session.Window.ShowMessageBox("No Input File Selected.", "LUMIVANE - Open Error",
                                  BoxKind::Error);
    return false;
  }
  context.InputFileName = path;
  // A path that cannot be opened, or is no regular file, takes the caller's
  // "Cannot open " road; nothing is read from it.
  context.InputFile = BinaryFile::OpenForReading(path);
  return context.InputFile.IsOpen();
}

bool RunSaveDialog(Session& session, const FileDialogRequest& request) {
  JobContext& context = session.Context;
  context.OutputFileName = session.Window.RunFileDialog(request);
  if (context.OutputFileName.empty()) {
    session.Window.ShowMessageBox("Missing Filename.", "LUMIVANE - Save As Error", BoxKind::Error);
    return false;
  }
  context.OutputFile.Close();
  // An output over the input, under any of its names, would lose the source image.
  if (context.InputFile.SameFileAs(context.OutputFileName)) return false;
  context.OutputFile = BinaryFile::CreateOutput(context.OutputFileName);
  // Waiting for a reader could take for ever; the abort box alone would not say why.
  if (context.OutputFile.ErrorNumber() == ENXIO) {
    session.Window.ShowMessageBox(
        "Cannot write to " + context.OutputFileName + ": no program reads from it.",
        "LUMIVANE - Save As Error", BoxKind::Error);
  }
  return context.OutputFile.IsOpen();
}

}  // namespace

bool OpenHdrDialog(Session& session) {
  return RunOpenDialog(session, Request(DialogKind::Open, "LUMIVANE Open HDR",
                                        {{"HDR", "*.hdr"}, {"All Files", "*.*"}}, "hdr"));
}

bool OpenTiffDialog(Session& session) {
  return RunOpenDialog(session, Request(DialogKind::Open, "LUMIVANE Open TIFF",
                                        {{"TIF", "*.tif"}, {"All Files", "*.*"}}, "tif"));
}

bool OpenPfmDialog(Session& session) {
  return RunOpenDialog(session, Request(DialogKind::Open, "LUMIVANE Open PFM",
                                        {{"PFM", "*.pfm"}, {"All Files", "*.*"}}, "pfm"));
}

bool OpenImageDialog(Session& session) {
  // Every format the table reads.
  std::string patterns;
  for (const FormatRow& row : FormatTable()) {
    if (!row.Reads()) continue;
    for (const std::string& extension : row.Extensions)
      patterns += (patterns.empty() ? "*." : " *.") + extension;
  }
  return RunOpenDialog(session, Request(DialogKind::Open, "LUMIVANE Open Image",
                                        {{"Images", patterns}, {"All Files", "*.*"}}, "exr"));
}

bool SaveTiffDialog(Session& session) {
  return RunSaveDialog(
      session, Request(DialogKind::Save, "LUMIVANE Save",
                       {{"TIF", "*.tif"}, {"TIFF", "*.tiff"}, {"All Files", "*.*"}}, "tif"));
}

bool SavePfmDialog(Session& session) {
  return RunSaveDialog(session, Request(DialogKind::Save, "LUMIVANE Save",
                                        {{"PFM", "*.pfm"}, {"All Files", "*.*"}}, "pfm"));
}

bool SaveImageDialog(Session& session, const char* name,
                     const std::vector<std::string>& extensions) {
  std::vector<FileFilter> filters;
  for (const std::string& extension : extensions) filters.push_back({name, "*." + extension});
  filters.push_back({"All Files", "*.*"});
  return RunSaveDialog(session, Request(DialogKind::Save, "LUMIVANE Save", std::move(filters),
                                        extensions.front().c_str()));
}

}  // namespace lumivane
