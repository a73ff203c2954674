#include "formats/jpegerrors.h"

namespace lumivane {

namespace {

void OnJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  if (errors->Message.empty()) {
    char text[JMSG_LENGTH_MAX] = {};
    (*info->err->format_message)(info, text);
    errors->Message = text;
  }
  std::longjmp(errors->Jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

}  // namespace

jpeg_error_mgr* UseJpegErrors(JpegErrors& errors) {
  jpeg_error_mgr* manager = jpeg_std_error(&errors.Manager);
  manager->error_exit = OnJpegError;
  manager->emit_message = OnJpegMessage;
  return manager;
}

}  // namespace lumivane
