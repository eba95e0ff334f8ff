// ProgressPrinter: the console lines of a run, printed to a stream.
//
// spAppend starts a new line with its text (the very first line starts
// without a newline), spUpdate appends to the current line; the stream is
// flushed after every piece so a line grows while a long step works. In
// quiet mode nothing is printed.
#pragma once

#include <ostream>
#include <string>

#include "filers/SimFilers.h"

namespace skyfold::cli {

class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& stream, bool quiet);

  // A progress event bound to this printer (it must outlive the event).
  TSimProgressEvent Event();

  // Ends the current line, if one is open; the next spAppend then starts
  // without a leading newline. Call before printing anything else to the
  // same stream (an error message) and when the job is over.
  void Finish();

  // Writes text on a line of its own (ending any open line first), even in
  // quiet mode: for error messages that share the stream.
  void Message(const std::string& text);

 private:
  void Write(const std::string& text, TSimProgressMode mode);

  std::ostream& stream_;
  bool quiet_;
  bool lineOpen_ = false;
};

}  // namespace skyfold::cli
