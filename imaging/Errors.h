// The core's exception family. Every failure of a decoder, a writer or an
// allocation is one of these and carries the message the user sees; the
// window shows it in the error box, the CLI prints it and exits with 3.
// Validation of user input never throws: it reports through
// ShowErrorMessage and returns false.
//
// what() is the message as the window shows it. detail() is the reason
// behind it when there is one worth giving (the library's own words, the
// sizes that did not fit), empty otherwise; the CLI prints both through
// DescribeError.
#pragma once

#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace skyfold {

// The one text for an allocation that failed, wherever it failed.
inline constexpr const char* kOutOfMemoryMessage = "メモリが不足しています。";

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  explicit Error(const char* message) : std::runtime_error(message) {}
  Error(const std::string& message, const std::string& detail)
      : std::runtime_error(message), notes_(std::make_shared<Notes>()) {
    notes_->detail = detail;
  }

  // The reason behind what(), or "" (copies of the error share it, so
  // copying never throws).
  const std::string& detail() const noexcept { return notes_ ? notes_->detail : None(); }
  // The file the error concerns, or "": noted where the file is known, on
  // the way out (catch by reference, NoteFile, rethrow).
  const std::string& file() const noexcept { return notes_ ? notes_->file : None(); }
  void NoteFile(const std::string& name) {
    if (!notes_) notes_ = std::make_shared<Notes>();
    if (notes_->file.empty()) notes_->file = name;
  }

 private:
  struct Notes {
    std::string detail;
    std::string file;
  };
  static const std::string& None() noexcept {
    static const std::string none;
    return none;
  }
  std::shared_ptr<Notes> notes_;
};

// A file that cannot be decoded (corrupt, truncated, unsupported).
class CodecError : public Error {
 public:
  using Error::Error;
};

// A file that cannot be opened, created, read, written, flushed or closed.
class FileError : public Error {
 public:
  using Error::Error;
};

// A source name that exists but is not a regular file (a folder, a FIFO, a
// device): refused before anything is read from it, so it cannot block.
class NotAFileError : public FileError {
 public:
  using FileError::FileError;
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

// "what: detail" for one of ours with a detail, what() for anything else.
inline std::string DescribeError(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e); error && !error->detail().empty()) {
    return std::string(e.what()) + ": " + error->detail();
  }
  return e.what();
}

// Runs body; an error of ours it throws names `file`, and an allocation
// that fails becomes the one memory error, naming it too.
template <typename Body>
decltype(auto) NotingFile(const std::string& file, Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    MemoryError error(kOutOfMemoryMessage);
    error.NoteFile(file);
    throw error;
  } catch (Error& e) {
    e.NoteFile(file);
    throw;
  }
}

// The file an error of ours concerns ("" when not known or not ours).
inline std::string ErrorFile(const std::exception& e) {
  const auto* error = dynamic_cast<const Error*>(&e);
  return error ? error->file() : std::string();
}

}  // namespace skyfold
