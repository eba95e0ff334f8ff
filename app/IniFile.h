// TIniFile: access to one ini file by section and key, one access at a time.
// Written here because the usual libraries (QSettings' IniFormat among them)
// rewrite the whole file and lose comments, unknown lines and key order.
//
// Every call opens the file, performs its one access and closes it; nothing
// is cached. Sections and keys are compared without regard to case and hold
// one value per key (the first occurrence counts). Writing replaces the value
// in its line, appends a new key after the last key of its section, and
// appends a new section at the end of the file; every other line (comments,
// blank lines, lines it does not understand) stays as it was, byte for byte.
//
// A write never leaves a half-written file: the new content goes to a
// temporary file beside the old one, which then replaces it. A file or
// folder without write permission is refused (also for a superuser, who is
// otherwise allowed everything): the write throws FileError
// "<path> に書き込めません" and the old file stays intact.
#pragma once

#include <optional>
#include <string>

namespace skyfold {

class TIniFile {
 public:
  // Values longer than this many characters are cut on reading.
  static constexpr int kMaxValueLength = 2047;

  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  // The value of key in section, or nullopt when the file, the section or
  // the key is missing (or the file cannot be read).
  std::optional<std::string> Read(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Creates the file and the section as needed. Throws FileError when the
  // file cannot be written, or when the text cannot be kept in one line
  // (a line break in the value, a key with '=' or a section with ']').
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Removes the key's line; nothing when the key is absent. Throws FileError
  // when the file cannot be written.
  void DeleteKey(const std::string& section, const std::string& key);

 private:
  std::string fileName_;
};

// The message of a failed write: "<path> に書き込めません".
std::string CannotWriteMessage(const std::string& fileName);

}  // namespace skyfold
