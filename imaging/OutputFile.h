// OutputFile: an output file opened for writing, checked at every step.
// Creating it raises FileError "ファイル "%s" を作成できません。%s"; a failed
// write, flush or close raises FileError naming the file, so a full disk is
// never reported as success. A file that is not committed with close() (an
// exception on the way) is removed rather than left half-written.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace skyfold {

class OutputFile {
 public:
  // Creates or replaces fileName.
  explicit OutputFile(const std::string& fileName);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const void* data, std::size_t size);
  // Seeks to an absolute position (for patching a header).
  void seek(long offset);
  // Flushes and closes; throws FileError when either fails.
  void close();

  // For libraries that write through stdio themselves (libjpeg); check with
  // checkStream() / close() afterwards.
  std::FILE* get() const { return file_; }
  // Throws FileError when the stream's error flag is set.
  void checkStream();
  const std::string& fileName() const { return fileName_; }

 private:
  [[noreturn]] void fail(const char* what);
  std::string fileName_;
  std::FILE* file_ = nullptr;
};

}  // namespace skyfold
