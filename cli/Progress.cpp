#include "cli/Progress.h"

namespace skyfold::cli {

ProgressPrinter::ProgressPrinter(std::ostream& stream, bool quiet)
    : stream_(stream), quiet_(quiet) {}

TSimProgressEvent ProgressPrinter::Event() {
  return [this](TSimFiler*, const std::string& s, TSimProgressMode mode) { Write(s, mode); };
}

void ProgressPrinter::Write(const std::string& text, TSimProgressMode mode) {
  if (quiet_) return;
  if (mode == spAppend) {
    if (lineOpen_) stream_ << '\n';
    lineOpen_ = true;
  } else if (!lineOpen_) {
    // An update with no line yet behaves like the console: it opens one.
    lineOpen_ = true;
  }
  stream_ << text << std::flush;
}

void ProgressPrinter::Finish() {
  if (!lineOpen_) return;
  stream_ << '\n' << std::flush;
  lineOpen_ = false;
}

void ProgressPrinter::Message(const std::string& text) {
  Finish();
  stream_ << text << '\n' << std::flush;
}

}  // namespace skyfold::cli
