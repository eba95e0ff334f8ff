// File-name helpers shared by the core, the CLI and the window. Names are
// UTF-8; on POSIX the path delimiter is '/', on Windows '\\' (and a drive
// colon also ends a directory part). UTF-8 never puts a byte below 0x80
// inside a multi-byte character, so scanning bytes for '/', '.', '_' never
// splits a character.
#pragma once

#include <string>

namespace skyfold {

#ifdef _WIN32
inline constexpr char kPathDelimiter = '\\';
#else
inline constexpr char kPathDelimiter = '/';
#endif

// True for a byte that ends a directory part: the delimiter, and on Windows
// also '/' and the drive colon.
bool IsDirectoryEnd(char c);

// The extension: from the last '.' that follows the last directory end, dot
// included; empty when there is none ("a.b/c" has none, ".bmp" is ".bmp").
std::string ExtractFileExt(const std::string& fileName);
// Everything up to and including the last directory end ("" when none).
std::string ExtractFilePath(const std::string& fileName);
// Everything after the last directory end.
std::string ExtractFileName(const std::string& fileName);
// fileName with its extension replaced by ext (ext includes the dot).
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);

// The last character when it is a single-byte (ASCII) character, else 0 (also
// for empty text and for the last byte of a multi-byte character).
char LastSingleByteChar(const std::string& text);
// Path with the delimiter appended unless it already ends in one; "" gives
// the delimiter alone.
std::string IncludeTrailingPathDelimiter(const std::string& path);
// folder + name with exactly one delimiter inserted when folder is not empty
// and lacks a final one.
std::string JoinPath(const std::string& folder, const std::string& name);

// A regular file (or anything that is not a directory) exists at path.
bool FileExists(const std::string& path);
// A directory exists at path (a trailing delimiter is allowed).
bool DirectoryExists(const std::string& path);
// Absolute form of path (without resolving links); path itself on failure.
std::string ExpandFileName(const std::string& path);

}  // namespace skyfold
