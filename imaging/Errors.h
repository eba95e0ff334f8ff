// The core's exception family. Every failure of a decoder, a writer or an
// allocation is one of these and carries the message the user sees; the
// window shows it in the error box, the CLI prints it and exits with 3.
// Validation of user input never throws: it reports through
// ShowErrorMessage and returns false.
#pragma once

#include <stdexcept>
#include <string>

namespace skyfold {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be decoded (corrupt, truncated, unsupported).
class CodecError : public Error {
 public:
  using Error::Error;
};

// A file that cannot be created, written, flushed or closed.
class FileError : public Error {
 public:
  using Error::Error;
};

// An allocation that failed or a size that cannot be allocated.
class MemoryError : public Error {
 public:
  using Error::Error;
};

// The general error of an operation given arguments it does not take
// (for example a rotation of a palette bitmap).
class ArgumentError : public Error {
 public:
  using Error::Error;
};

}  // namespace skyfold
