#include "filers/FaceTurn.h"

#include <cstring>

#include "imaging/Errors.h"

namespace skyfold {

namespace {

// The source pixel (sx, sy) that target pixel (x, y) of an n × n square
// shows under turn: the quarter turns are undone one by one, then the mirror.
inline void SourceOf(int x, int y, int n, FaceTurn turn, int& sx, int& sy) {
  for (int k = 0; k < turn.quarterTurns % 4; ++k) {
    const int px = x;
    x = y;
    y = n - 1 - px;
  }
  sx = turn.mirror ? n - 1 - x : x;
  sy = y;
}

}  // namespace

FaceTurn FaceTurn::Inverse() const {
  // A mirror then k turns is its own inverse; k plain turns undo with 4 − k.
  if (mirror) return *this;
  return FaceTurn{(4 - quarterTurns % 4) % 4, false};
}

void DrawTurned(Bitmap& target, int left, int top, const Bitmap& source, FaceTurn turn) {
  const int n = source.width();
  if (source.height() != n || IsIndexed(source.format()) || target.format() != source.format() ||
      left < 0 || top < 0 || left + n > target.width() || top + n > target.height()) {
    throw ArgumentError("The face does not fit its cell.");
  }
  // Any direct format: a turn moves whole pixels.
  const std::size_t bpp = static_cast<std::size_t>(BytesPerPixel(source.format()));
  for (int y = 0; y < n; ++y) {
    std::uint8_t* out = target.row(top + y) + static_cast<std::size_t>(left) * bpp;
    if (turn.None()) {
      std::memcpy(out, source.row(y), static_cast<std::size_t>(n) * bpp);
      continue;
    }
    for (int x = 0; x < n; ++x, out += bpp) {
      int sx = 0, sy = 0;
      SourceOf(x, y, n, turn, sx, sy);
      std::memcpy(out, source.row(sy) + static_cast<std::size_t>(sx) * bpp, bpp);
    }
  }
}

Bitmap TakeUnturned(const Bitmap& source, int left, int top, int n, FaceTurn turn, PoolRef pool) {
  if (IsIndexed(source.format()) || left < 0 || top < 0 || left + n > source.width() ||
      top + n > source.height()) {
    throw ArgumentError("The cell lies outside the image.");
  }
  const PixelFormat format = source.format();
  const std::size_t bpp = static_cast<std::size_t>(BytesPerPixel(format));
  Bitmap cell(n, n, format, Uninitialised{}, pool);
  for (int y = 0; y < n; ++y) {
    std::memcpy(cell.row(y), source.row(top + y) + static_cast<std::size_t>(left) * bpp,
                static_cast<std::size_t>(n) * bpp);
  }
  if (turn.None()) return cell;
  Bitmap face(n, n, format, Uninitialised{}, std::move(pool));
  DrawTurned(face, 0, 0, cell, turn.Inverse());
  return face;
}

}  // namespace skyfold
