#include "imaging/ShowErrorMessage.h"

#include <cstdio>
#include <utility>

namespace skyfold {
namespace {

ErrorMessageSink& CurrentSink() {
  static ErrorMessageSink sink;
  return sink;
}

}  // namespace

void ShowErrorMessage(const std::string& text) {
  if (auto& sink = CurrentSink()) {
    sink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

ErrorMessageSink SetErrorMessageSink(ErrorMessageSink sink) {
  return std::exchange(CurrentSink(), std::move(sink));
}

}  // namespace skyfold
