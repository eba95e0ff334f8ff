// Source files opened so that nothing can block: the name is checked to be
// a regular file, opened with O_NONBLOCK, checked again on the descriptor
// (fstat), and only then read, always from that same descriptor. A FIFO, a
// device or a folder given as a source is refused with its own message
// instead of hanging the run or being reported as missing.
//
// The decoders read through InputFile only; it can also stand for bytes
// already in memory, so the same decoding serves files, tests and fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skyfold {

enum class PathKind : std::uint8_t {
  Missing,      // nothing there (or it cannot be looked at)
  RegularFile,  // also through a symbolic link
  Directory,
  Other,  // FIFO, socket, character or block device
};

// What is at path, from stat alone: never opens it, never blocks.
PathKind GetPathKind(const std::string& path) noexcept;
bool IsRegularFile(const std::string& path) noexcept;

// Throws NotAFileError (a FileError) for a folder, FIFO, socket or device,
// FileError "ファイル "…" を開けません。" for a missing name; returns for a
// regular file. The up-front check of a source name.
void CheckInputFile(const std::string& path);

// The message CheckInputFile would throw for a folder, FIFO, socket or
// device; "" for a regular file or a missing name.
std::string NotAFileMessage(const std::string& path);

class InputFile {
 public:
  // Opens path for reading as described above. Throws NotAFileError or
  // FileError (missing, no permission, ...), naming the file.
  explicit InputFile(const std::string& path);
  // Bytes held by the caller, which outlive this object; name is only for
  // messages.
  InputFile(const std::uint8_t* data, std::size_t size, std::string name = "(memory)");
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& name() const { return name_; }
  // The size when opened (a file that changes later reads short or long;
  // the decoders never trust it beyond their bounds checks).
  std::uint64_t size() const { return size_; }

  // Reads up to count bytes at offset; fewer only at the end of the file.
  // Throws FileError on a read error.
  std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const;
  // Up to count bytes from offset 0 (the header of the file).
  std::vector<std::uint8_t> head(std::size_t count) const;
  // The whole file; throws MemoryError when it cannot be held, FileError
  // when it reads short.
  std::vector<std::uint8_t> readAll() const;

 private:
  std::string name_;
  int fd_ = -1;
  const std::uint8_t* memory_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace skyfold
