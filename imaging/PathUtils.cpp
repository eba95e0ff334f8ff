#include "imaging/PathUtils.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace skyfold {

bool IsDirectoryEnd(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

namespace {

// Position of the last directory end, or npos.
std::size_t LastDirectoryEnd(const std::string& name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    if (IsDirectoryEnd(name[i - 1])) return i - 1;
  }
  return std::string::npos;
}

// Position of the extension's dot, or npos.
std::size_t ExtensionDot(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return dot;
  const std::size_t dirEnd = LastDirectoryEnd(name);
  if (dirEnd != std::string::npos && dirEnd > dot) return std::string::npos;
  return dot;
}

}  // namespace

std::string ExtractFileExt(const std::string& fileName) {
  const std::size_t dot = ExtensionDot(fileName);
  return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

std::string ExtractFilePath(const std::string& fileName) {
  const std::size_t end = LastDirectoryEnd(fileName);
  return end == std::string::npos ? std::string() : fileName.substr(0, end + 1);
}

std::string ExtractFileName(const std::string& fileName) {
  const std::size_t end = LastDirectoryEnd(fileName);
  return end == std::string::npos ? fileName : fileName.substr(end + 1);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext) {
  const std::size_t dot = ExtensionDot(fileName);
  return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ext;
}

char LastSingleByteChar(const std::string& text) {
  if (text.empty()) return 0;
  const unsigned char last = static_cast<unsigned char>(text.back());
  return last < 0x80 ? static_cast<char>(last) : 0;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  return LastSingleByteChar(path) == kPathDelimiter ? path : path + kPathDelimiter;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsDirectoryEnd(folder.back())) return folder + name;
  return folder + kPathDelimiter + name;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExpandFileName(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

}  // namespace skyfold
