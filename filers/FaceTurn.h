// FaceTurn: one of the eight exact turns and mirrors of a square face (no
// resampling), the moves a consumer's face convention differs from ours by.
#pragma once

#include "imaging/Bitmap.h"

namespace skyfold {

// Mirror left to right first (when mirror), then quarterTurns clockwise
// quarter turns, as seen on screen with y growing downwards.
struct FaceTurn {
  int quarterTurns = 0;  // 0 … 3
  bool mirror = false;

  bool None() const { return quarterTurns % 4 == 0 && !mirror; }
  // The turn that undoes this one.
  FaceTurn Inverse() const;
  friend bool operator==(const FaceTurn&, const FaceTurn&) = default;
};

inline constexpr FaceTurn kNoTurn{};

// Draws source (24 bits, square) turned into target at (left, top); target
// must hold the square there.
void DrawTurned(Bitmap& target, int left, int top, const Bitmap& source, FaceTurn turn);
// Copies the square at (left, top) of source, edge n, undoing turn: the
// face that DrawTurned(…, turn) drew there.
Bitmap TakeUnturned(const Bitmap& source, int left, int top, int n, FaceTurn turn, PoolRef pool);

}  // namespace skyfold
