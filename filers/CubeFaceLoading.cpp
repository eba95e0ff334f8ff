// LoadCubeFaces: the six face files unfolded around the horizon into one
// W × W/2 image that the warp then turns into the panorama.
//
// With q = W/8 and the cell size F = 2q, the side band (rows q … 3q−1) holds
// back's right half, left, front, right and back's left half; the top band
// (rows 0 … q−1) and the bottom band (rows 3q … 4q−1) hold, above and below
// each side face, the half of the polar face that borders it, turned so that
// the shared edge touches that face. The four turned copies come from one
// F × F square turned a quarter at a time and are copied straight into the
// band, wrapping at the image edge, so no band-sized temporary is needed.
//
// Every face file is checked before any is loaded: a missing face or one of
// a kind the loader does not read stops the job with nothing drawn.
#include <algorithm>
#include <string>

#include "filers/PanoFiler.h"
#include "imaging/Errors.h"
#include "imaging/PathUtils.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kFaceCount = 6;

// All six names must name files the loader will read.
bool FaceFilesReadable(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!FileExists(name)) {
      ShowErrorMessage("Cube 画像ファイルがありません。\n" + ExpandFileName(name));
      return false;
    }
    if (GetImageFileKind(name) == ikUnknown) {
      ShowErrorMessage("扱えない画像ファイルです。");
      return false;
    }
  }
  return true;
}

// Copies the F × q rectangle of square at (0, srcTop) to column x of the
// band starting at bandTop, wrapping past the right edge to column 0.
void CopyWrapped(Bitmap& target, int x, int bandTop, const Bitmap& square, int srcTop, int q) {
  const int w = target.width();
  const int f = square.width();
  const int first = std::min(f, w - x);
  CopyRect(target, x, bandTop, square, 0, srcTop, first, q);
  if (first < f) CopyRect(target, 0, bandTop, square, first, srcTop, f - first, q);
}

}  // namespace

bool TPanoFiler::LoadCubeFaces(Bitmap& bitmap) {
  if (!CheckParameters()) return false;
  if (FileNames.size() != kFaceCount) throw ArgumentError("The face names are not built.");
  const int w = OutputSize;
  if (w < 8 || w % 8 != 0) throw ArgumentError("Invalid panorama size.");
  if (!FaceFilesReadable(FileNames)) return false;

  const int h = w / 2;
  const int f = w / 4;
  const int q = f / 2;
  if (bitmap.width() != w || bitmap.height() != h || bitmap.format() != PixelFormat::Bgr24) {
    bitmap = Bitmap();  // release the old raster before the new one is allocated
    bitmap.reset(w, h, PixelFormat::Bgr24);
  }

  Bitmap face;
  for (int d = 0; d < kFaceCount; ++d) {
    const std::string& name = FileNames[static_cast<std::size_t>(d)];
    DoProgress("読み込んでいます。　" + ExtractFileName(name), spAppend);
    // Checked above; a file removed since then still must not leave a cell
    // showing the previous face.
    if (!LoadImageFile(face, name)) {
      ShowErrorMessage("Cube 画像ファイルがありません。\n" + ExpandFileName(name));
      return false;
    }

    switch (d) {
      case fiLeft:
      case fiFront:
      case fiRight:
        DoProgress("....", spUpdate);
        StretchDraw(bitmap, Rect{q + d * f, q, f, f}, face);
        break;

      case fiBack: {
        // The back face straddles the seam: its left half ends the row, its
        // right half starts it. An odd middle column goes with the right half.
        const int fw = face.width();
        const int fh = face.height();
        const int leftWidth = std::max(fw / 2, 1);
        const int rightLeft = fw / 2;
        DoProgress("..", spUpdate);
        StretchRect(bitmap, Rect{7 * q, q, q, f}, face, Rect{0, 0, leftWidth, fh});
        DoProgress("..", spUpdate);
        StretchRect(bitmap, Rect{0, q, q, f}, face, Rect{rightLeft, 0, fw - rightLeft, fh});
        break;
      }

      default: {
        const bool top = d == fiTop;
        Bitmap square(f, f, PixelFormat::Bgr24);
        StretchDraw(square, Rect{0, 0, f, f}, face);
        face = Bitmap();  // the turns below need the memory more
        // The half that borders the side faces: the lower half of the top
        // face, the upper half of the bottom face.
        const int srcTop = top ? q : 0;
        const int bandTop = top ? 0 : 3 * q;
        // Copy k lies above/below front, right, back, left: column 3q + k·F.
        for (int k = 0; k < 4; ++k) {
          DoProgress(".", spUpdate);
          CopyWrapped(bitmap, (3 * q + k * f) % w, bandTop, square, srcTop, q);
          if (k < 3) RotateBitmap90(square, top ? rdClockwise : rdCounterClockwise);
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace skyfold
