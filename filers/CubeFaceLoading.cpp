// LoadCubeFaces: the six face files unfolded around the horizon into one
// W × W/2 image that the warp then turns into the panorama.
//
// With q = W/8 and the cell size F = 2q, the side band (rows q … 3q−1) holds
// back's right half, left, front, right and back's left half; the top band
// (rows 0 … q−1) and the bottom band (rows 3q … 4q−1) hold, above and below
// each side face, the half of the polar face that borders it, turned so that
// the shared edge touches that face.
//
// Every face file is checked before any is loaded: a missing face or one of
// a kind the loader does not read stops the job with nothing drawn.
//
// Speed: decoding dominates, so with n ≥ 2 threads the next n faces are
// decoded on workers while the current one is placed; at most n + 1 decoded
// faces are held at once. The warp's table, which depends only on the
// panorama size, is built meanwhile on a helper thread. Progress lines, messages and errors stay on
// the calling thread and in face order: a decoder's exception surfaces when its face's turn comes,
// exactly as if the faces were decoded one by one. Placement is nearest-neighbour sampling
// (destination pixel i takes source pixel i · srcW / dstW) split over threads by rows. The four
// band copies of a polar face are the face scaled to F × F and turned 0, 1, 2 and 3 quarter turns;
// each copy reads its pixels straight from the decoded face through the composed index map instead
// of scaling and turning a square.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filers/PanoFiler.h"
#include "filers/RunContext.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"
#include "imaging/Parallel.h"
#include "imaging/PathUtils.h"
#include "imaging/PixelMemory.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kFaceCount = 6;
// How the unfolding names faces an arrangement has read.
constexpr const char* kFaceLabels[kFaceCount] = {"left", "front", "right", "back", "top", "bottom"};
// Edge of the square tiles the turned copies walk, so that reading a face
// column by column stays within the cache.
constexpr int kTile = 64;

struct DecodedFace {
  Bitmap bitmap;        // 24 bits
  bool loaded = false;  // false: the file was gone by the time it was read
  LoadReport report;
};

// Runs on a worker: touches nothing but its own name and bitmap. The kind
// was checked by name beforehand, so the loader shows no message here.
DecodedFace DecodeFace(const std::string& name, const PoolRef& pool, const DecodeContext& context) {
  DecodedFace face{Bitmap(pool), false, {}};
  face.loaded = LoadImageFile(face.bitmap, name, &face.report, context);
  if (face.loaded) ConvertToBgr24(face.bitmap);
  return face;
}

// Hands out the decoded faces in list order. The `ahead` faces after the one
// being handed out are decoded on workers; a face is only started once the
// face `ahead` + 1 before it has been given up, so at most ahead + 1 decoded
// faces exist at a time. Destruction waits for any worker.
class FaceDecoder {
 public:
  FaceDecoder(const std::vector<std::string>& names, int ahead, RunContext& run)
      : names_(names), pending_(names.size()), ahead_(ahead), run_(run) {
    for (int d = 0; d < ahead && d < static_cast<int>(names.size()); ++d) Start(d);
  }
  FaceDecoder(const FaceDecoder&) = delete;
  FaceDecoder& operator=(const FaceDecoder&) = delete;

  // Face d, for d = 0, 1, … in turn; rethrows its decoder's exception. A
  // face no worker has started yet is decoded here.
  DecodedFace Take(int d) {
    const auto i = static_cast<std::size_t>(d);
    if (!pending_[i].Valid()) return DecodeFace(names_[i], &run_.memory(), run_.decode());
    if (ahead_ > 0 && i + ahead_ < names_.size()) Start(d + static_cast<int>(ahead_));
    return pending_[i].Get();
  }

 private:
  void Start(int d) {
    const auto i = static_cast<std::size_t>(d);
    pending_[i] = run_.workers().Submit(
        [name = names_[i], pool = PoolRef(&run_.memory()), context = run_.decode()] {
          return DecodeFace(name, pool, context);
        });
  }

  std::vector<std::string> names_;  // copies: workers never read the filer
  std::vector<Task<DecodedFace>> pending_;
  const std::size_t ahead_;
  RunContext& run_;
};

// Scales srcRect of src over dstRect of dst (both 24 bits) by point sampling,
// the raster's StretchRect rule, with the rows split over threads. Empty or
// out-of-range source rectangles draw nothing, as there; returns false then.
bool ScaleRect(Bitmap& dst, const Rect& dstRect, const Bitmap& src, const Rect& srcRect,
               const Workers& workers) {
  if (dstRect.width <= 0 || dstRect.height <= 0 || srcRect.width <= 0 || srcRect.height <= 0) {
    return false;
  }
  if (srcRect.left < 0 || srcRect.top < 0 || srcRect.left + srcRect.width > src.width() ||
      srcRect.top + srcRect.height > src.height()) {
    return false;
  }
  const int x0 = std::max(0, dstRect.left);
  const int x1 = std::min(dst.width(), dstRect.left + dstRect.width);
  const int y0 = std::max(0, dstRect.top);
  const int y1 = std::min(dst.height(), dstRect.top + dstRect.height);
  if (x0 >= x1 || y0 >= y1) return false;

  const int n = x1 - x0;
  const bool sameWidth = srcRect.width == dstRect.width;
  std::vector<std::size_t> srcOffset(static_cast<std::size_t>(n));
  for (int x = x0; x < x1; ++x) {
    const std::int64_t sx =
        srcRect.left + std::int64_t{x - dstRect.left} * srcRect.width / dstRect.width;
    srcOffset[static_cast<std::size_t>(x - x0)] = static_cast<std::size_t>(sx) * 3;
  }
  workers.For(
      y0, y1,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const int sy = static_cast<int>(srcRect.top + std::int64_t{y - dstRect.top} *
                                                            srcRect.height / dstRect.height);
          const std::uint8_t* s = src.row(sy);
          std::uint8_t* d = dst.row(y) + static_cast<std::size_t>(x0) * 3;
          if (sameWidth) {
            std::memcpy(d, s + srcOffset[0], static_cast<std::size_t>(n) * 3);
            continue;
          }
          for (int i = 0; i < n; ++i, d += 3) {
            const std::uint8_t* p = s + srcOffset[static_cast<std::size_t>(i)];
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
          }
        }
      },
      MinRowsPerBlock(n));
  return true;
}

// One polar face as the F × F square S it is scaled to: S(a, b) is the face
// pixel at column a · w / F, row b · h / F.
struct ScaledSquare {
  std::vector<const std::uint8_t*> rows;  // by b
  std::vector<std::size_t> columns;       // byte offset by a
  bool sameWidth = false;                 // columns[a] = 3a
};

ScaledSquare SquareOf(const Bitmap& face, int f) {
  ScaledSquare s;
  s.rows.resize(static_cast<std::size_t>(f));
  s.columns.resize(static_cast<std::size_t>(f));
  s.sameWidth = face.width() == f;
  for (int i = 0; i < f; ++i) {
    const auto k = static_cast<std::size_t>(i);
    s.rows[k] = face.row(static_cast<int>(std::int64_t{i} * face.height() / f));
    s.columns[k] = static_cast<std::size_t>(std::int64_t{i} * face.width() / f) * 3;
  }
  return s;
}

// Where pixel (x, Y) of S turned k quarter turns comes from in S: (a, b) =
// (a0 + ax·x + aY·Y, b0 + bx·x + bY·Y). A clockwise turn of an N × N square
// takes new (x, y) from old (y, N−1−x), a counter-clockwise one from old
// (N−1−y, x); composing those k times gives the four maps.
struct Turn {
  int a0, ax, aY, b0, bx, bY;
};

Turn TurnOf(int k, bool clockwise, int n) {
  const int m = n - 1;
  if (k == 2) return Turn{m, -1, 0, m, 0, -1};
  if (k == 0) return Turn{0, 1, 0, 0, 0, 1};
  // One clockwise quarter turn is three counter-clockwise ones.
  if ((k == 1) == clockwise) return Turn{0, 0, 1, m, -1, 0};  // (Y, N−1−x)
  return Turn{m, 0, -1, 0, 1, 0};                             // (N−1−Y, x)
}

// Rows srcTop … srcTop + q − 1 of S turned by turn, written to rows
// bandTop … bandTop + q − 1 of target from column x on, wrapping past the
// right edge to column 0.
void CopyTurned(Bitmap& target, int x, int bandTop, const ScaledSquare& s, const Turn& turn,
                int srcTop, int q, const Workers& workers) {
  const int w = target.width();
  const int f = static_cast<int>(s.rows.size());
  const int beforeWrap = std::min(f, w - x);
  // Turned 0 or 2 quarters, a band row is one row of S; turned 1 or 3, it
  // is a column of S and is read in tiles.
  const bool alongRow = turn.bx == 0;
  const bool straight = alongRow && turn.ax == 1 && s.sameWidth;

  // Band pixels [i0, i1) of band row y to d.
  const auto run = [&](int y, int i0, int i1, std::uint8_t* d) {
    const int sy = srcTop + y;
    int a = turn.a0 + turn.ax * i0 + turn.aY * sy;
    int b = turn.b0 + turn.bx * i0 + turn.bY * sy;
    if (alongRow) {
      const std::uint8_t* row = s.rows[static_cast<std::size_t>(b)];
      if (straight) {
        std::memcpy(d, row + s.columns[static_cast<std::size_t>(a)],
                    static_cast<std::size_t>(i1 - i0) * 3);
        return;
      }
      for (int i = i0; i < i1; ++i, a += turn.ax, d += 3) {
        const std::uint8_t* p = row + s.columns[static_cast<std::size_t>(a)];
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
      }
    } else {
      const std::size_t column = s.columns[static_cast<std::size_t>(a)];
      for (int i = i0; i < i1; ++i, b += turn.bx, d += 3) {
        const std::uint8_t* p = s.rows[static_cast<std::size_t>(b)] + column;
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
      }
    }
  };
  // The same, split where the band wraps past the right edge.
  const auto segment = [&](int y, int i0, int i1) {
    std::uint8_t* out = target.row(bandTop + y);
    const int mid = std::clamp(beforeWrap, i0, i1);
    if (i0 < mid) run(y, i0, mid, out + static_cast<std::size_t>(x + i0) * 3);
    if (mid < i1) run(y, mid, i1, out + static_cast<std::size_t>(mid - beforeWrap) * 3);
  };

  workers.For(
      0, q,
      [&](int first, int last) {
        if (alongRow) {
          for (int y = first; y < last; ++y) segment(y, 0, f);
          return;
        }
        for (int ty = first; ty < last; ty += kTile) {
          const int tyEnd = std::min(ty + kTile, last);
          for (int tx = 0; tx < f; tx += kTile) {
            const int txEnd = std::min(tx + kTile, f);
            for (int y = ty; y < tyEnd; ++y) segment(y, tx, txEnd);
          }
        }
      },
      MinRowsPerBlock(f));
}

// rect of target (inside it) set to white.
void FillWhite(Bitmap& target, const Rect& rect, const Workers& workers) {
  workers.For(
      rect.top, rect.top + rect.height,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          std::memset(target.row(y) + static_cast<std::size_t>(rect.left) * 3, 255,
                      static_cast<std::size_t>(rect.width) * 3);
        }
      },
      MinRowsPerBlock(rect.width));
}

// Empties a freshly allocated panorama unless the unfolding completes, so
// that a failed run never hands back undefined pixels.
class ReleaseUnlessDone {
 public:
  ReleaseUnlessDone(Bitmap& bitmap, bool armed) : bitmap_(bitmap), armed_(armed) {}
  ~ReleaseUnlessDone() {
    if (armed_) bitmap_ = Bitmap();
  }
  ReleaseUnlessDone(const ReleaseUnlessDone&) = delete;
  ReleaseUnlessDone& operator=(const ReleaseUnlessDone&) = delete;
  void Done() { armed_ = false; }

 private:
  Bitmap& bitmap_;
  bool armed_;
};

}  // namespace

bool FaceFilesReadable(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (const std::string notAFile = NotAFileMessage(name); !notAFile.empty()) {
      ShowErrorMessage(notAFile);
      return false;
    }
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

bool TPanoFiler::LoadCubeFaces(Bitmap& bitmap) {
  if (!CheckParameters()) return false;
  if (FileNames.size() != kFaceCount) throw ArgumentError("The face names are not built.");
  const int w = OutputSize;
  if (w < 8 || w % 8 != 0) throw ArgumentError("Invalid panorama size.");
  if (!provided_ && !FaceFilesReadable(FileNames)) return false;

  const int h = w / 2;
  const int f = w / 4;
  const int q = f / 2;
  // A new raster is not filled white first: the faces cover every pixel,
  // and a cell that an empty face leaves undrawn is whitened on its own. A
  // raster of the right size is reused as it is.
  RunContext& run = Context();
  const Workers workers = run.workers();
  const bool fresh =
      bitmap.width() != w || bitmap.height() != h || bitmap.format() != PixelFormat::Bgr24;
  if (fresh) {
    bitmap = Bitmap();  // release the old raster before the new one is allocated
    bitmap = Bitmap(w, h, PixelFormat::Bgr24, Uninitialised{}, &run.memory());
  }
  ReleaseUnlessDone release(bitmap, fresh);
  const auto scale = [&](const Rect& cell, const Bitmap& face, const Rect& part) {
    if (!ScaleRect(bitmap, cell, face, part, workers) && fresh) FillWhite(bitmap, cell, workers);
  };

  const int threads = run.Threads();
  if (threads > 1) PrepareMappingTable(q);
  try {
    // Faces an arrangement has read already are not decoded again.
    FaceDecoder decoder(provided_ ? std::vector<std::string>() : FileNames,
                        threads > 1 && !provided_ ? threads : 0, run);
    for (int d = 0; d < kFaceCount; ++d) {
      run.cancel().Check();
      const std::string& name = FileNames[static_cast<std::size_t>(d)];
      DecodedFace decoded;
      if (provided_) {
        DoProgress(std::string(kFaceLabels[d]), spAppend);
        decoded = DecodedFace{std::move(providedFaces_[static_cast<std::size_t>(d)]), true, {}};
      } else {
        DoProgress("読み込んでいます。　" + ExtractFileName(name), spAppend);
        decoded = decoder.Take(d);
      }
      // Checked above; a file removed since then still must not leave a cell
      // showing the previous face.
      if (!decoded.loaded) {
        DropPreparedTable();
        ShowErrorMessage("Cube 画像ファイルがありません。\n" + ExpandFileName(name));
        return false;
      }
      NoteIncomplete(decoded.report, name);
      const Bitmap& face = decoded.bitmap;
      const int fw = face.width();
      const int fh = face.height();

      switch (d) {
        case fiLeft:
        case fiFront:
        case fiRight:
          DoProgress("....", spUpdate);
          scale(Rect{q + d * f, q, f, f}, face, Rect{0, 0, fw, fh});
          break;

        case fiBack: {
          // The back face straddles the seam: its left half ends the row, its
          // right half starts it. An odd middle column goes with the right half.
          const int leftWidth = std::max(fw / 2, 1);
          const int rightLeft = fw / 2;
          DoProgress("..", spUpdate);
          scale(Rect{7 * q, q, q, f}, face, Rect{0, 0, leftWidth, fh});
          DoProgress("..", spUpdate);
          scale(Rect{0, q, q, f}, face, Rect{rightLeft, 0, fw - rightLeft, fh});
          break;
        }

        default: {
          const bool top = d == fiTop;
          // The half that borders the side faces: the lower half of the top
          // face, the upper half of the bottom face.
          const int srcTop = top ? q : 0;
          const int bandTop = top ? 0 : 3 * q;
          // An empty face scales to nothing, leaving the square white.
          const bool blank = fw == 0 || fh == 0;
          const ScaledSquare square = blank ? ScaledSquare{} : SquareOf(face, f);
          // Copy k lies above/below front, right, back, left: column 3q + k·F.
          for (int k = 0; k < 4; ++k) {
            DoProgress(".", spUpdate);
            if (blank) {
              if (k == 0) FillWhite(bitmap, Rect{0, bandTop, w, q}, workers);
              continue;
            }
            CopyTurned(bitmap, (3 * q + k * f) % w, bandTop, square, TurnOf(k, top, f), srcTop, q,
                       workers);
          }
          break;
        }
      }
    }
  } catch (...) {
    DropPreparedTable();  // nothing will be warped
    throw;
  }
  provided_ = false;
  release.Done();
  // The faces are placed: what they leave kept would only add to the warp's
  // memory.
  run.memory().Release();
  return true;
}

}  // namespace skyfold
