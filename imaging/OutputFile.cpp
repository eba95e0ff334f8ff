// OutputFile: stdio underneath, every result checked. A file still open when
// the object dies was not committed by close(), so it is closed and removed;
// only regular files are ever removed (a device such as /dev/full is left
// alone even when we run with the rights to delete it).
#include "imaging/OutputFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "imaging/Errors.h"
#include "imaging/PathUtils.h"

namespace skyfold {

namespace {

std::string FileMessage(const std::string& fileName, const char* what, int error) {
  std::string message = "ファイル \"" + ExpandFileName(fileName) + "\" " + what;
  if (error != 0) message += std::strerror(error);
  return message;
}

bool IsRegularFile(std::FILE* file) {
  struct stat info {};
  return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

// Closes file without checking (the caller is already failing) and removes
// it when it is a regular file.
void Discard(std::FILE* file, const std::string& fileName) {
  const bool regular = IsRegularFile(file);
  std::fclose(file);
  if (regular) std::remove(fileName.c_str());
}

}  // namespace

OutputFile::OutputFile(const std::string& fileName) : fileName_(fileName) {
  file_ = std::fopen(fileName.c_str(), "wb");
  if (file_ == nullptr) {
    const int error = errno;
    throw FileError(FileMessage(fileName, "を作成できません。", error));
  }
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) Discard(file_, fileName_);
}

void OutputFile::fail(const char* what) {
  const int error = errno;
  std::string message = FileMessage(fileName_, what, error);
  if (file_ != nullptr) {
    Discard(file_, fileName_);
    file_ = nullptr;
  }
  throw FileError(message);
}

void OutputFile::write(const void* data, std::size_t size) {
  if (size == 0) return;
  if (file_ == nullptr) {
    errno = EBADF;
    fail("に書き込めません。");
  }
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) fail("に書き込めません。");
}

void OutputFile::seek(long offset) {
  if (file_ == nullptr) {
    errno = EBADF;
    fail("に書き込めません。");
  }
  errno = 0;
  if (std::fseek(file_, offset, SEEK_SET) != 0) fail("に書き込めません。");
}

void OutputFile::checkStream() {
  if (file_ == nullptr) return;
  // errno still holds the reason of the write that set the flag.
  if (std::ferror(file_)) fail("に書き込めません。");
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  errno = 0;
  // Data still in the stdio buffer meets a full disk only here.
  if (std::ferror(file_) || std::fflush(file_) != 0) fail("に書き込めません。");
  const bool regular = IsRegularFile(file_);
  std::FILE* file = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(file) != 0) {
    const int error = errno;
    if (regular) std::remove(fileName_.c_str());
    throw FileError(FileMessage(fileName_, "を閉じられません。", error));
  }
}

}  // namespace skyfold
