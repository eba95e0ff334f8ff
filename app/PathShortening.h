// Shortening of a file path for display in a label of limited width.
//
// Directories are replaced from the left by the marker ".../" (on Windows
// "...\"), while the root, the drive and the file name stay as long as
// possible. Widths are measured only through the caller's callback, so the
// functions work with any font and are testable without one. Strings are
// UTF-8; the scans look for ASCII bytes only, which never occur inside a
// multi-byte character.
#pragma once

#include <functional>
#include <string>

namespace skyfold {

// Width in pixels of a text in the font the label uses.
using TMeasureWidth = std::function<int(const std::string& text)>;

// The path, shortened step by step until measureWidth(result) <= maxWidth or
// nothing but the file name is left (which is then returned even when it is
// still too wide). A path that fits is measured once; a bare file name is
// returned unchanged without being measured.
std::string ShortenPathForDisplay(const std::string& fileName, const TMeasureWidth& measureWidth,
                                  int maxWidth);

// Replaces the leftmost directory of a directory part by the marker:
// "/a/b/c/" → "/.../b/c/" → "/.../c/" → "/.../"; ".../" → ""; "a/b/" → ".../b/".
// A part that starts with '.' loses its first four characters first (the
// marker an earlier step put there).
void DropFirstDirectory(std::string& dir);

}  // namespace skyfold
