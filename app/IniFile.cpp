// Ini file access. The file is read whole into lines (each kept with its
// own bytes), the one access is applied to that list, and a changed list is
// written back through QSaveFile (temporary file + rename).
#include "app/IniFile.h"

#include <QSaveFile>
#include <QString>
#include <fstream>
#include <iterator>
#include <vector>

#include "imaging/Errors.h"

#ifdef _WIN32
#include <QFileInfo>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace skyfold {

namespace {

enum class LineKind { Other, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string name;   // section name or key
  std::string value;  // value of a key line
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

ParsedLine Parse(std::string line, bool firstLine) {
  if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  const std::string text = Trim(line);
  ParsedLine parsed;
  if (text.empty() || text[0] == ';' || text[0] == '#') return parsed;
  if (text[0] == '[') {
    const std::size_t close = text.find(']');
    parsed.kind = LineKind::Section;
    parsed.name = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return parsed;
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) return parsed;
  parsed.kind = LineKind::Key;
  parsed.name = Trim(text.substr(0, equals));
  parsed.value = Trim(text.substr(equals + 1));
  return parsed;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// At most maxChars characters; a multi-byte character is never split.
std::string CutToCharacters(const std::string& text, int maxChars) {
  int chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == maxChars) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

// The file's lines without their '\n' (a '\r' stays with its line).
struct IniText {
  bool exists = false;
  std::vector<std::string> lines;
  bool finalNewline = true;
  std::string newline = "\n";
};

IniText Load(const std::string& fileName) {
  IniText text;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return text;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.exists = true;
  if (content.empty()) return text;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      text.lines.push_back(content.substr(start));
      text.finalNewline = false;
      break;
    }
    text.lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  if (!text.lines.empty() && !text.lines[0].empty() && text.lines[0].back() == '\r') {
    text.newline = "\r\n";
  }
  return text;
}

// Where a key lives: the line of the key (npos when absent) and, for a new
// key, the line to insert it before (npos when the section is missing).
struct KeyPlace {
  std::size_t keyLine = std::string::npos;
  std::size_t insertAt = std::string::npos;
};

KeyPlace Locate(const IniText& text, const std::string& section, const std::string& key) {
  KeyPlace place;
  bool inSection = false;
  bool inFirstBlock = false;  // new keys go after the last key of the first block
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    const ParsedLine line = Parse(text.lines[i], i == 0);
    if (line.kind == LineKind::Section) {
      inSection = SameName(line.name, section);
      inFirstBlock = inSection && place.insertAt == std::string::npos;
      if (inFirstBlock) place.insertAt = i + 1;
      continue;
    }
    if (!inSection || line.kind != LineKind::Key) continue;
    if (SameName(line.name, key)) {
      place.keyLine = i;
      return place;
    }
    if (inFirstBlock) place.insertAt = i + 1;
  }
  return place;
}

#ifndef _WIN32
// Write permission as the mode bits state it: a file or folder that nobody
// may write is refused even for a superuser, whom access() lets through.
bool ModeAllowsWriting(const std::string& path, bool mustBeDirectory) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  if (mustBeDirectory != S_ISDIR(info.st_mode)) return false;
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return ::access(path.c_str(), mustBeDirectory ? (W_OK | X_OK) : W_OK) == 0;
}
#endif

bool CanWrite(const std::string& fileName, bool fileExists) {
  const std::size_t slash = fileName.find_last_of("/\\");
  std::string folder =
      slash == std::string::npos ? std::string(".") : fileName.substr(0, slash + 1);
#ifdef _WIN32
  const QFileInfo file(QString::fromUtf8(fileName));
  if (fileExists && !file.isWritable()) return false;
  return QFileInfo(QString::fromUtf8(folder)).isWritable();
#else
  if (fileExists && !ModeAllowsWriting(fileName, false)) return false;
  return ModeAllowsWriting(folder, true);
#endif
}

void Save(const std::string& fileName, const IniText& text) {
  if (!CanWrite(fileName, text.exists)) throw FileError(CannotWriteMessage(fileName));
  std::string content;
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    content += text.lines[i];
    if (i + 1 < text.lines.size() || text.finalNewline) content += '\n';
  }
  QSaveFile file(QString::fromUtf8(fileName));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(content.data(), static_cast<qint64>(content.size())) !=
          static_cast<qint64>(content.size()) ||
      !file.commit()) {
    throw FileError(CannotWriteMessage(fileName));
  }
}

// A line break would split the entry and let the value forge other keys.
bool FitsOneLine(const std::string& text) {
  return text.find_first_of("\r\n") == std::string::npos;
}

std::string WithLineEnd(const std::string& line, const IniText& text) {
  return text.newline == "\r\n" ? line + '\r' : line;
}

}  // namespace

std::string CannotWriteMessage(const std::string& fileName) {
  return fileName + " に書き込めません";
}

std::optional<std::string> TIniFile::Read(const std::string& section,
                                          const std::string& key) const {
  const IniText text = Load(fileName_);
  const KeyPlace place = Locate(text, section, key);
  if (place.keyLine == std::string::npos) return std::nullopt;
  return CutToCharacters(Parse(text.lines[place.keyLine], place.keyLine == 0).value,
                         kMaxValueLength);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  return Read(section, key).value_or(defaultValue);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string cleanKey = Trim(key);
  const std::string cleanSection = Trim(section);
  if (!FitsOneLine(value) || !FitsOneLine(key) || !FitsOneLine(section) || cleanKey.empty() ||
      cleanSection.empty() || key.find('=') != std::string::npos || cleanKey[0] == '[' ||
      cleanKey[0] == ';' || cleanKey[0] == '#' || section.find(']') != std::string::npos) {
    throw FileError(CannotWriteMessage(fileName_));
  }
  IniText text = Load(fileName_);
  const KeyPlace place = Locate(text, cleanSection, cleanKey);
  const std::string entry = WithLineEnd(cleanKey + '=' + value, text);
  if (place.keyLine != std::string::npos) {
    // Keep the key as the file spells it; only the value changes.
    std::string& line = text.lines[place.keyLine];
    const std::size_t equals = line.find('=');
    line = WithLineEnd(line.substr(0, equals + 1) + value, text);
  } else if (place.insertAt != std::string::npos) {
    text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(place.insertAt), entry);
    if (place.insertAt == text.lines.size() - 1) text.finalNewline = true;
  } else {
    text.lines.push_back(WithLineEnd('[' + cleanSection + ']', text));
    text.lines.push_back(entry);
    text.finalNewline = true;
  }
  Save(fileName_, text);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  IniText text = Load(fileName_);
  const KeyPlace place = Locate(text, section, key);
  if (place.keyLine == std::string::npos) return;
  text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(place.keyLine));
  Save(fileName_, text);
}

}  // namespace skyfold
