// libjpeg's fatal errors as C++ exceptions, shared by the encoder and the
// decoder (an internal header of imaging/).
//
// libjpeg reports fatal errors by calling error_exit, which must not return.
// Ours records the message code and the library's text and longjmps back to
// RunGuarded, a frame that holds nothing but the jmp_buf's owner; the
// lambdas it runs hold only trivially destructible locals, so no C++
// destructor is skipped. The C++ side then throws.
#pragma once

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <string>

#include "imaging/Errors.h"

namespace skyfold::jpeg {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code = 0;
  char text[JMSG_LENGTH_MAX] = {};  // the library's words for code
  // The decoder's: set by its own callbacks, which jump out when the file
  // has too many scans or no image.
  bool tooManyScans = false;
  bool noImage = false;
  bool inImageData = false;            // the header is read; the scans follow
  bool dataEnded = false;              // the data ended before the image did
  char warning[JMSG_LENGTH_MAX] = {};  // the library's words about that
};

[[noreturn]] inline void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->code = cinfo->err->msg_code;
  cinfo->err->format_message(cinfo, err->text);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end of file) are not shown: decoding
// goes on with what the library can recover. The decoder replaces
// emit_message to notice where the data ended.
inline void IgnoreMessage(j_common_ptr, int) {}
inline void OutputNothing(j_common_ptr) {}

inline void InstallErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = IgnoreMessage;
  err.pub.output_message = OutputNothing;
}

// The window's text for a fatal library error.
inline std::string ErrorText(int code) {
  char text[64];
  std::snprintf(text, sizeof text, "JPEG エラー #%d", code);
  return text;
}

[[noreturn]] inline void ThrowLibraryError(const ErrorManager& err) {
  throw CodecError(ErrorText(err.code), err.text);
}

// Runs body under setjmp. Returns false when libjpeg's error_exit fired.
// body must keep only trivially destructible locals.
template <typename Body>
bool RunGuarded(ErrorManager& err, Body& body) {
  if (setjmp(err.jump) != 0) return false;
  body();
  return true;
}

}  // namespace skyfold::jpeg
