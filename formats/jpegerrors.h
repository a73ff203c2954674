// libjpeg's errors as a message and a jump back, for the reader of headers
// and the writer alike: error_exit must not return, so it jumps back to the
// call that started the work, and warnings are not printed.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace lumivane {

struct JpegErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  std::string Message;  // the first error's text
};

// `errors` set up as the error manager to put in a jpeg_*_struct's `err`.
jpeg_error_mgr* UseJpegErrors(JpegErrors& errors);

}  // namespace lumivane
