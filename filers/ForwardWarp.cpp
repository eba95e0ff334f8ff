// The warp machinery of TSimFiler: the forward mapping table, the strip
// resampler shared by both directions, and the forward face cutter.
//
// Principle: one quarter strip of the panorama (90 degrees of longitude,
// 2q wide and 4q high, q pixels per 45 degrees) maps onto the same strip of
// the unfolded cube: the middle band holds half of two side faces, the top
// and bottom bands triangles of the polar faces. The table says, for every
// pixel of a strip, which source position it blends from; it is computed
// once and serves all four strips. WarpImage resamples each strip in place;
// SaveCubeFaces then cuts the six faces out of the unfolded panorama and
// assembles each polar face from its four triangles.
//
// Reproducibility: the table keeps fractions in ten-thousandths and the
// blend is integer arithmetic with one final round-half-to-even division, so
// results are bit-identical on every machine and for every thread count
// (rows are split into disjoint blocks; progress is reported only from the
// calling thread, between blocks).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filers/FaceSaves.h"
#include "filers/PanoramaWarp.h"
#include "filers/PolarPieces.h"
#include "filers/SimFilers.h"
#include "filers/StripBlend.h"
#include "filers/WarpedFaces.h"
#include "imaging/Errors.h"
#include "imaging/Parallel.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr std::int16_t kNoSource = -1;
constexpr std::int16_t kNoFrac = -10000;

// Radians to pixels at q pixels per 45 degrees, evaluated step by step in
// extended precision: atan(arg) · 180 / π · q / 45.
long double AtanPixels(long double arg, int q) {
  long double v = std::atan(arg);
  v = v * 180.0L;
  v = v / std::numbers::pi_v<long double>;
  v = v * static_cast<long double>(q);
  return v / 45.0L;
}

// (trunc(v), fraction in ten-thousandths rounded half to even) for v ≥ 0.
// The fraction can reach 10000.
void Split(long double v, std::int16_t& whole, std::int16_t& frac) {
  const long double t = std::trunc(v);
  whole = static_cast<std::int16_t>(t);
  // nearbyint rounds in the default mode: to nearest, ties to even.
  frac = static_cast<std::int16_t>(std::nearbyint((v - t) * 10000.0L));
}

// Split(AtanPixels(ratio, q)) computed in double: double's error here
// (a few units in the last place, far below 1e-6 of a ten-thousandth) can
// only matter when the value lies that close to an integer or to a rounding
// midpoint of the fraction. Returns false for those rare values, which the
// caller recomputes in extended precision — same table, a fraction of the
// time. k is the radians-to-pixels factor 180 / π · q / 45.
inline bool SplitAtanFast(double ratio, double k, std::int16_t& whole, std::int16_t& frac) {
  constexpr double kMargin = 1e-5;  // in ten-thousandths
  const double v = std::atan(ratio) * k;
  const int t = static_cast<int>(v);  // v ≥ 0: truncation
  const double f = (v - t) * 10000.0;
  const int below = static_cast<int>(f);
  const double part = f - below;
  if (!(f > kMargin && f < 10000.0 - kMargin && std::abs(part - 0.5) > kMargin)) return false;
  whole = static_cast<std::int16_t>(t);
  frac = static_cast<std::int16_t>(part > 0.5 ? below + 1 : below);
  return true;
}

// Split(AtanPixels(num / den, q)) for integer num and den.
void SplitAtanRatio(int num, int den, int q, double k, std::int16_t& whole, std::int16_t& frac) {
  if (SplitAtanFast(static_cast<double>(num) / den, k, whole, frac)) return;
  Split(AtanPixels(static_cast<long double>(num) / static_cast<long double>(den), q), whole, frac);
}

// Split(AtanPixels(√sumSquares / den, q)), the square root taken in extended
// precision where it matters.
void SplitAtanHypot(std::int64_t sumSquares, double root, int den, int q, double k,
                    std::int16_t& whole, std::int16_t& frac) {
  if (SplitAtanFast(root / den, k, whole, frac)) return;
  const long double exact = std::sqrt(static_cast<long double>(sumSquares));
  Split(AtanPixels(exact / static_cast<long double>(den), q), whole, frac);
}

}  // namespace

void BuildForwardTable(int q, TmxCurrencyUV& table, const TableBuild& build) {
  const auto progress = [&](const char* text, TSimProgressMode mode) {
    if (build.progress) build.progress(text, mode);
  };
  progress("座標を取得しています。", spAppend);
  if (q < 0 || !table.Mirrored() || table.Columns() != 2 * q || table.Rows() != 4 * q) {
    throw ArgumentError("The mapping table must be a mirrored table of its quarter strip.");
  }

  // Only the top band's columns 0 … q − 1 can stay without a source (x > y);
  // every other entry is written by the phases below, so only those rows
  // need the "no source" initialisation.
  build.workers.For(
      0, q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          PackedUV* row = table.Row(y);
          std::fill(row, row + q, PackedUV{kNoSource, kNoFrac, kNoSource, kNoFrac});
        }
      },
      MinRowsPerBlock(q));
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  const double k = 180.0 / std::numbers::pi * q / 45.0;

  // Top band, one half triangle: x ≤ y. Row y costs y + 1 entries, so rows
  // are processed in pairs (y, q − 1 − y) to give every block the same work.
  auto topRow = [&](int y) {
    PackedUV* row = table.Row(y);
    for (int x = 0; x <= y; ++x) {
      PackedUV& e = row[x];
      if (y == 0) {
        e.U = 0;
        e.UFrac = 0;
      } else {
        SplitAtanRatio(x, y, q, k, e.U, e.UFrac);
      }
      const std::int64_t sum = std::int64_t{x} * x + std::int64_t{y} * y;
      SplitAtanHypot(sum, std::sqrt(static_cast<double>(sum)), q, q, k, e.V, e.VFrac);
    }
  };
  build.workers.For(
      0, (q + 1) / 2,
      [&](int first, int last) {
        for (int t = first; t < last; ++t) {
          if ((t & 63) == 0) CheckCancel(build.cancel);
          topRow(t);
          if (q - 1 - t != t) topRow(q - 1 - t);
        }
      },
      MinRowsPerBlock(q));
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  // Side band, upper left quarter. U and the distance √(q² + x²) depend on
  // the column only.
  std::vector<PackedUV> columnU(static_cast<std::size_t>(q));
  std::vector<double> distance(static_cast<std::size_t>(q));
  for (int x = 0; x < q; ++x) {
    SplitAtanRatio(x, q, q, k, columnU[x].U, columnU[x].UFrac);
    distance[x] = std::sqrt(static_cast<double>(std::int64_t{q} * q + std::int64_t{x} * x));
  }
  build.workers.For(
      q, 2 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          if ((y & 63) == 0) CheckCancel(build.cancel);
          PackedUV* row = table.Row(y);
          const int height = 2 * q - y;
          for (int x = 0; x < q; ++x) {
            PackedUV& e = row[x];
            e.U = columnU[x].U;
            e.UFrac = columnU[x].UFrac;
            SplitAtanHypot(std::int64_t{q} * q + std::int64_t{x} * x, distance[x], height, q, k,
                           e.V, e.VFrac);
          }
        }
      },
      MinRowsPerBlock(q));
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  // The other quadrants are its mirror images, derived on reading.
  progress("....", spUpdate);
}

void TSimFiler::BuildMappingTable(int quarterUnit, TmxCurrencyUV& table) {
  BuildForwardTable(quarterUnit, table, TableBuildHere());
}

MappingTableBuilder TSimFiler::TableBuilder() const { return BuildForwardTable; }

namespace {

// The resampling loop of ResampleStrip: a line with one dot per chunk of
// rows, each chunk blended on all threads after its dot.
template <typename Progress>
void ResampleRows(Progress&& dot, const Workers& workers, const CancelToken& cancel, Bitmap& dest,
                  const StripView& src, int bytes, const TmxCurrencyUV& table) {
  const int h = src.height;
  const int step = RowsPerProgressDot(h);
  dot(spAppend);
  const int minRows = MinRowsPerBlock(src.width);
  std::uint8_t* destData = dest.data();
  const std::size_t destStride = dest.rowBytes();
  for (int y0 = 0; y0 < h; y0 += step) {
    dot(spUpdate);
    cancel.Check();
    if (bytes != 3 && bytes != 4) continue;  // other formats leave dest unwritten
    if (src.width == 0) continue;
    const int y1 = std::min(y0 + step, h);
    // Rows cross more or less of the picture (the polar bands hold
    // triangles): they are dealt out in small runs to share the work evenly.
    workers.ForInterleaved(y0, y1, std::max(4, minRows / 4), [&](int first, int last) {
      BlendStripRows(
          StripTarget{destData + destStride * static_cast<std::size_t>(first), destStride, false},
          src, bytes, table, first, last);
    });
  }
}

}  // namespace

void TSimFiler::ResampleStrip(Bitmap& dest, const Bitmap& source, const TmxCurrencyUV& table) {
  const int w = source.width();
  const int h = source.height();
  if (table.Columns() < w || table.Rows() < h) {
    throw ArgumentError("The mapping table does not cover the strip.");
  }
  // A dest of the right format and size keeps its pixels: those without a
  // source stay as they are (white in a fresh bitmap).
  if (dest.format() != source.format()) {
    dest.reset(w, h, source.format());
  } else {
    dest.setSize(w, h);
  }
  const bool direct =
      source.format() == PixelFormat::Bgr24 || source.format() == PixelFormat::Bgrx32;
  RunContext& run = Context();
  ResampleRows([this](TSimProgressMode mode) { DoProgress(".", mode); }, run.workers(),
               run.cancel(), dest, StripView{source.data(), source.rowBytes(), w, h},
               direct ? source.bytesPerPixel() : 0, table);
}

namespace {

// A 24-bit panorama of exactly 8q × 4q (what loading produces): it covers
// every face completely, and each face lies whole in one of its bands.
bool IsRegular(const Bitmap& panorama) {
  const int q = panorama.width() / 8;
  return panorama.format() == PixelFormat::Bgr24 && panorama.width() == 8 * q &&
         panorama.height() == 4 * q;
}

// The source rows each warped row reads, from the stored quadrant: entry V
// blends rows V and V + 1, and a mirrored row takes R − 2 − V. A row with
// no source reads nothing (first = height, last = 0).
struct RowReach {
  std::vector<int> need;      // rows the decoder must have finished: last read + 1
  std::vector<int> keepFrom;  // first row any warped row from here on reads
};

RowReach ReachOf(const TmxCurrencyUV& table, int height) {
  const int rows = table.Rows();
  const int stored = table.StoredRows();
  const int columns = table.StoredColumns();
  std::vector<int> first(static_cast<std::size_t>(rows), height);
  std::vector<int> last(static_cast<std::size_t>(rows), 0);
  for (int r = 0; r < stored; ++r) {
    const PackedUV* row = table.Row(r);
    int low = rows, high = -1;
    for (int x = 0; x < columns; ++x) {
      if (row[x].U < 0) continue;
      low = std::min<int>(low, row[x].V);
      high = std::max<int>(high, row[x].V);
    }
    if (high < 0) continue;
    first[static_cast<std::size_t>(r)] = low;
    last[static_cast<std::size_t>(r)] = high + 2;
    if (table.Mirrored()) {
      first[static_cast<std::size_t>(rows - 1 - r)] = rows - 2 - high;
      last[static_cast<std::size_t>(rows - 1 - r)] = rows - low;
    }
  }
  RowReach reach{std::vector<int>(static_cast<std::size_t>(height), 0),
                 std::vector<int>(static_cast<std::size_t>(height) + 1, height)};
  for (int y = std::min(rows, height) - 1; y >= 0; --y) {
    const auto i = static_cast<std::size_t>(y);
    reach.need[i] = std::clamp(last[i], 0, height);
    reach.keepFrom[i] = std::min(reach.keepFrom[i + 1], std::max(first[i], 0));
  }
  return reach;
}

}  // namespace

void TSimFiler::WarpFollowingTheDecoder(Bitmap& bitmap, const TmxCurrencyUV& table,
                                        WarpDots& dots) {
  // The source is still being decoded on a worker: all four strips are
  // warped together, band by band, each band once the decoder has finished
  // the rows it reads. A warped band waits in a buffer of its own until no
  // later band reads the source rows it replaces, and is then copied over
  // them: the panorama is warped in place with a few hundred rows of extra
  // memory rather than a second panorama.
  RunContext& run = Context();
  const Workers workers = run.workers();
  const int h = bitmap.height();
  const RowReach reach = ReachOf(table, h);
  struct Band {
    int y0, y1;
    Bitmap rows;
  };
  std::deque<Band> waiting;
  std::vector<Bitmap> spare;
  // Copies the waiting bands that lie wholly above row `keepFrom` into place.
  auto settle = [&](int keepFrom) {
    while (!waiting.empty() && waiting.front().y1 <= keepFrom) {
      Band& band = waiting.front();
      run.source->rows.WaitFor(band.y1);  // the decoder is past them
      workers.For(
          band.y0, band.y1,
          [&](int first, int last) {
            for (int y = first; y < last; ++y) {
              std::memcpy(bitmap.row(y), band.rows.row(y - band.y0), band.rows.rowBytes());
            }
          },
          MinRowsPerBlock(bitmap.width()));
      spare.push_back(std::move(band.rows));
      waiting.pop_front();
    }
  };
  try {
    // Made in here, so that on a failure they stop following the decoder
    // before the decoder is dropped.
    std::optional<WarpedFaces> faces;
    if (IsRegular(bitmap)) {
      faces.emplace(bitmap, FilesAsWarped(bitmap), workers, &run.source->rows);
    }
    int ready = 0;
    WarpPanorama(
        bitmap, table, workers, run.cancel(), dots, StripRange{},
        [&](int y0, int y1) {
          for (int y = y0; y < y1; ++y)
            ready = std::max(ready, reach.need[static_cast<std::size_t>(y)]);
          run.source->rows.WaitFor(ready);
          Bitmap rows(bitmap.pool());
          if (!spare.empty()) {
            rows = std::move(spare.back());
            spare.pop_back();
          }
          if (rows.height() < y1 - y0) {
            rows =
                Bitmap(bitmap.width(), y1 - y0, PixelFormat::Bgr24, Uninitialised{}, bitmap.pool());
          }
          waiting.push_back(Band{y0, y1, std::move(rows)});
          return WarpRows{waiting.back().rows.row(0), waiting.back().rows.rowBytes()};
        },
        [&](int, int y1) {
          settle(reach.keepFrom[static_cast<std::size_t>(y1)]);
          if (faces) faces->Advance(waiting.empty() ? y1 : waiting.front().y0);
        });
    settle(h);
    if (faces) warpedFaces_ = faces->Finish();
    const LoadReport report = run.FinishSource();
    NoteIncomplete(report, GetImageFileName());
  } catch (...) {
    run.DropSource();
    throw;
  }
}

WarpedFaces::FaceFiles TSimFiler::FilesAsWarped(const Bitmap& bitmap) {
  WarpedFaces::FaceFiles files;
  // Faces saved as they are cut, with no stretch.
  if (OutputSize != bitmap.width() / 4 || FileNames.size() < WarpedFaces::kFaces) return files;
  for (std::size_t i = 0; i < files.paths.size(); ++i) {
    files.paths[i] = OutputPath(FileNames[i]);
    files.write[i] = WritesJpegAsMade(static_cast<std::uint8_t>(i));
  }
  files.metadata = MetadataFor(eiJpeg);
  files.commit = Context().outputs;
  return files;
}

void TSimFiler::WarpImage(Bitmap& bitmap) {
  warpedFaces_ = {};
  // The warp works in 24 bits; what loading gives already is.
  ConvertToBgr24(bitmap);
  RunContext& run = Context();
  const Workers workers = run.workers();
  TmxCurrencyUV table;
  ObtainMappingTable(bitmap.width() / 8, table);
  DoProgress("処理中 ", spAppend);
  // One strip at a time into a strip-sized buffer, then back into the
  // panorama: a strip is only read by its own warp, so the panorama is warped
  // in place with a quarter of it as extra memory. Every pixel of the buffer
  // is written (white where the table has no source, which the polar face
  // assembly relies on).
  const int q4 = bitmap.width() / 4;
  const int h = bitmap.height();
  WarpDots dots(ProgressHere(), h);
  if (run.source) {
    WarpFollowingTheDecoder(bitmap, table, dots);
    return;
  }
  Bitmap strip(q4, h, PixelFormat::Bgr24, Uninitialised{}, bitmap.pool());
  for (int k = 0; k < 4; ++k) {
    WarpPanorama(
        bitmap, table, workers, run.cancel(), dots, StripRange{k, 1},
        [&](int y0, int) {
          return WarpRows{strip.row(y0), strip.rowBytes()};
        },
        [](int, int) {});
    workers.For(
        0, h,
        [&](int first, int last) {
          for (int y = first; y < last; ++y) {
            std::memcpy(bitmap.row(y) + static_cast<std::size_t>(k) * q4 * 3, strip.row(y),
                        strip.rowBytes());
          }
        },
        MinRowsPerBlock(q4));
  }
}

void TSimFiler::SaveCubeFaces(Bitmap& bitmap) {
  RunContext& run = Context();
  const Workers workers = run.workers();
  const int q4 = bitmap.width() / 4;
  const int q = q4 / 2;
  const int size = OutputSize;
  DoProgress("画像ファイルを書き出しています。", spAppend);
  // Faces of a regular panorama need no white fill, and the polar pieces
  // are read from it in place.
  const bool regular = IsRegular(bitmap);

  // The face and output bitmaps are reused from face to face (a face of
  // 4096 is 48 MB of fresh pages otherwise); each is rewritten whole, or
  // made white again, before it is used. A face handed to a background save
  // is replaced by memory the run's pool kept from an earlier one.
  MemoryPool* pool = &run.memory();
  Bitmap face(pool);
  Bitmap out(pool);
  FaceSaves saves(run);
  WarpedFaces::Made made = std::exchange(warpedFaces_, {});
  // Cuts face i out of the panorama into face.
  auto cut = [&](std::size_t i) {
    if (face.width() != q4 || face.height() != q4 || face.format() != PixelFormat::Bgr24) {
      face = Bitmap(q4, q4, PixelFormat::Bgr24, Uninitialised{}, pool);
    }
    // Only a face copied whole out of a regular panorama skips the white.
    if (!(regular && i <= 3) && face.byteSize() != 0) {
      std::memset(face.data(), 255, face.byteSize());
    }

    if (i <= 2) {
      const int left = (2 * static_cast<int>(i) + 1) * q;
      CopyRect(face, 0, 0, bitmap, left, q, q4, q4);
    } else if (i == 3) {
      // The back face straddles the seam: its left half is the panorama's
      // right end, its right half the left end.
      CopyRect(face, 0, 0, bitmap, 7 * q, q, q, q4);
      DoProgress("..", spUpdate);
      CopyRect(face, q, 0, bitmap, 0, q, q, q4);
      DoProgress("..", spUpdate);
    } else if (regular) {
      const int which = static_cast<int>(i) - 4;
      const PolarBand band = PolarBandOf(bitmap, which);
      for (int p = 0; p < 4; ++p) {
        DrawPieceTurned(face, band, p, which, workers);
        DoProgress(".", spUpdate);
      }
    } else {
      const int top = i == 4 ? 0 : 3 * q;
      Bitmap strip(bitmap.width(), q, PixelFormat::Bgr24, pool);
      CopyRect(strip, 0, 0, bitmap, 5 * q, top, 3 * q, q);
      CopyRect(strip, 3 * q, 0, bitmap, 0, top, 5 * q, q);
      AssemblePoleFace(face, strip, static_cast<int>(i) - 4);
    }
  };
  for (std::size_t i = 0; i < FileNames.size(); ++i) {
    run.cancel().Check();
    DoProgress(FileNames[i], spAppend);
    if (i >= 6) continue;  // sphere names beyond the six faces: nothing to cut
    const std::string path = OutputPath(FileNames[i]);
    // A face the warp made reports the lines of its cut: the back face's two
    // halves, a polar face's four pieces.
    auto cutLines = [&] {
      for (int k = 0; i == 3 && k < 2; ++k) DoProgress("..", spUpdate);
      for (int p = 0; i >= 4 && p < 4; ++p) DoProgress(".", spUpdate);
    };
    if (made.written[i]) {
      cutLines();
      if (made.failures[i]) std::rethrow_exception(made.failures[i]);
      continue;
    }
    if (i >= 4 && !made.polar[i - 4].empty()) {
      face = std::move(made.polar[i - 4]);
      cutLines();
    } else {
      cut(i);
    }

    const auto faceIndex = static_cast<std::uint8_t>(i);
    const FaceSaves::Scope background(saves, *this);
    if (face.width() == size && face.height() == size) {
      // A 1:1 stretch is a copy; save the face itself.
      SaveImage(face, path, faceIndex);
    } else {
      // The stretch writes every pixel of out unless the face is empty.
      if (out.width() != size || out.height() != size || out.format() != PixelFormat::Bgr24) {
        out = Bitmap(size, size, PixelFormat::Bgr24, Uninitialised{}, pool);
      }
      if (face.empty() && out.byteSize() != 0) std::memset(out.data(), 255, out.byteSize());
      StretchDraw(out, Rect{0, 0, size, size}, face);
      SaveImage(out, path, faceIndex);
    }
  }
  saves.Finish();
}

void TSimFiler::AssemblePoleFace(Bitmap& face, const Bitmap& strip, int which) {
  const Workers workers = Context().workers();
  const int q4 = strip.width() / 4;
  const int h = strip.height();
  if (face.format() != PixelFormat::Bgr24) {
    face.reset(q4, q4, PixelFormat::Bgr24);
  } else {
    face.setSize(q4, q4);
  }
  // Each piece is a triangle on white; drawing it with white as the
  // transparent colour lets the four triangles tile the face. The face is
  // built as if it were turned a quarter after each of the first three
  // pieces: what it held before takes all three turns at once (one turn the
  // other way), and each piece is drawn straight where its turns would take
  // it.
  RotateBitmap90(face, which == 0 ? rdCounterClockwise : rdClockwise, workers);
  Bitmap converted;
  const Bitmap* source = &strip;
  if (strip.format() != PixelFormat::Bgr24) {
    converted = strip.clone();
    ConvertToBgr24(converted);
    source = &converted;
  }
  const PolarBand band{source, 0, h, 0, std::max(1, source->width())};
  for (int p = 0; p < 4; ++p) {
    DrawPieceTurned(face, band, p, which, workers);
    DoProgress(".", spUpdate);
  }
}

}  // namespace skyfold
