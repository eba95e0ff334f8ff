#include "imaging/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "imaging/Errors.h"
#include "imaging/PathUtils.h"

namespace skyfold {

namespace {

PathKind KindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return PathKind::RegularFile;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

std::string Quoted(const std::string& path) { return "\"" + ExpandFileName(path) + "\""; }

std::string NotAFileText(const std::string& path, PathKind kind) {
  if (kind == PathKind::Directory) {
    return Quoted(path) + " はフォルダーで、ファイルではありません。";
  }
  return Quoted(path) + " は通常のファイルではありません（FIFO やデバイスからは読み込めません）。";
}

[[noreturn]] void ThrowNotAFile(const std::string& path, PathKind kind) {
  throw NotAFileError(NotAFileText(path, kind));
}

[[noreturn]] void ThrowCannotOpen(const std::string& path, int error) {
  throw FileError("ファイル " + Quoted(path) + " を開けません。", std::strerror(error));
}

}  // namespace

std::string NotAFileMessage(const std::string& path) {
  const PathKind kind = GetPathKind(path);
  if (kind == PathKind::Directory || kind == PathKind::Other) return NotAFileText(path, kind);
  return {};
}

PathKind GetPathKind(const std::string& path) noexcept {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return KindOf(st);
}

bool IsRegularFile(const std::string& path) noexcept {
  return GetPathKind(path) == PathKind::RegularFile;
}

void CheckInputFile(const std::string& path) {
  const PathKind kind = GetPathKind(path);
  if (kind == PathKind::Missing) ThrowCannotOpen(path, path.empty() ? ENOENT : errno);
  if (kind != PathKind::RegularFile) ThrowNotAFile(path, kind);
}

InputFile::InputFile(const std::string& path) : name_(path) {
  // Looking first keeps devices from being opened at all; the descriptor is
  // checked again, since the name may change between the two.
  CheckInputFile(path);
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) ThrowCannotOpen(path, errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int error = errno;
    ::close(fd_);
    ThrowCannotOpen(path, error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    ThrowNotAFile(path, KindOf(st));
  }
  size_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

InputFile::InputFile(const std::uint8_t* data, std::size_t size, std::string name)
    : name_(std::move(name)), memory_(data), size_(data ? size : 0) {}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

InputFile::InputFile(InputFile&& other) noexcept
    : name_(std::move(other.name_)), fd_(other.fd_), memory_(other.memory_), size_(other.size_) {
  other.fd_ = -1;
}

std::size_t InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (fd_ < 0) {
    if (offset >= size_) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    if (n > 0) std::memcpy(buffer, memory_ + offset, n);
    return n;
  }
  constexpr std::uint64_t kMaxOffset = std::numeric_limits<off_t>::max();
  std::size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count && offset + done < kMaxOffset) {
    const ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      throw FileError("ファイル " + Quoted(name_) + " を読み込めません。", std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::vector<std::uint8_t> InputFile::head(std::size_t count) const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(count, size_)));
  bytes.resize(readAt(0, bytes.data(), bytes.size()));
  return bytes;
}

std::vector<std::uint8_t> InputFile::readAll() const {
  if (size_ > std::numeric_limits<std::size_t>::max() / 2) throw MemoryError(kOutOfMemoryMessage);
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size_));
  } catch (const std::bad_alloc&) {
    throw MemoryError(kOutOfMemoryMessage);
  }
  if (readAt(0, bytes.data(), bytes.size()) != bytes.size()) {
    throw FileError("ファイル " + Quoted(name_) + " を読み込めません。",
                    "the file became shorter while it was read");
  }
  return bytes;
}

}  // namespace skyfold
