// WarpedFaces: the faces of a forward run made while the warp is still
// following the decoder. Every face lies whole in one band of the unfolded
// panorama (the side faces in the middle band, each polar face in its polar
// band), and a row the warp has settled does not change again, so each face
// is made from the rows as they settle:
//  - the side faces, when they are saved as JPEG as they are, are encoded
//    straight from the panorama's rows (no copy), each to its file;
//  - the polar faces are drawn piece by piece onto their face, a few band
//    rows at a time.
// That work is queued in pieces of a few rows, each face's in order, and
// taken by whichever thread of the run is free: the thread that warps
// between its bands, the worker once the decode is over, and the decoder
// itself when it is far ahead of the rows the faces have used. The rows
// every face has used are given back to the system, so that the rows the
// decoder writes later reuse their pages: fresh pages cost more than the
// encoding. Each file holds the bytes SaveImage would write for the face cut
// out whole; each polar face is the one SaveCubeFaces would assemble.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ImageMetadata.h"
#include "imaging/JpegResultFile.h"
#include "imaging/Parallel.h"
#include "imaging/RowGate.h"

namespace skyfold {

class OutputCommit;

class WarpedFaces {
 public:
  static constexpr int kFaces = 6;
  static constexpr int kSides = 4;  // left, front, right, back, as cut
  // The JPEG files faces are written to as they are made: face i to
  // paths[i] when write[i] (the side faces all four or none).
  struct FaceFiles {
    std::array<std::string, kFaces> paths;
    std::array<bool, kFaces> write{};
    ImageMetadata metadata;
    OutputCommit* commit = nullptr;
  };
  // What the warp made.
  struct Made {
    // Per face: written to its file, with what writing it threw, if
    // anything (a face that fails stops there, the others go on).
    std::array<bool, kFaces> written{};
    std::array<std::exception_ptr, kFaces> failures{};
    std::array<Bitmap, 2> polar;  // top, bottom as drawn, when not written
  };

  // panorama: 24-bit, 8q × 4q (faces 2q square); faces not written are
  // left to be saved (the side faces to be cut from the panorama). decoder:
  // the rows of the decode the warp follows, whose thread then helps when
  // far ahead.
  WarpedFaces(Bitmap& panorama, FaceFiles files, Workers workers, RowGate* decoder);
  // Waits for the pieces under way; drops the rest.
  ~WarpedFaces();
  WarpedFaces(const WarpedFaces&) = delete;
  WarpedFaces& operator=(const WarpedFaces&) = delete;

  // Queues the faces' rows above panorama row `settled` (rows above it are
  // final and stay as they are until Finish), gives back the rows every
  // face has used, and makes the pieces queued that no other thread is at.
  void Advance(int settled);
  // After the whole panorama has settled: makes what is left.
  Made Finish();

 private:
  // A job's panorama rows [first, end).
  struct Rows {
    int first, end;
  };

  // A piece of work: job 0 to 3 encodes a side face's rows, 4 and 5 draw
  // rows of the top and bottom band, 6 and 7 encode the top and bottom face.
  struct Piece {
    int job, y0, y1;
  };
  static constexpr int kDraw = kSides, kEncodePolar = kSides + 2, kJobs = kSides + 4;
  Rows BandOf(int job) const;              // the rows a job that reads the panorama reads
  std::deque<Piece>::iterator Runnable();  // the first piece whose job is free; under mutex_
  void Run(const Piece& piece);
  // Takes and makes one piece whose job is free; false when there is none.
  bool MakeOne();
  // Panorama rows every face has used (a prefix, then rows of the bottom
  // band when the middle band is not used), given back to the system.
  void GiveBack();
  // On the decoder's thread, between its rows: moves the pages of the used
  // prefix under the rows it has still to write.
  void MoveUsedPages(int decoded);
  int UsedRows() const;  // of the prefix; under mutex_
  int UsedRowsNow();

  Bitmap& panorama_;
  int q_;
  Workers workers_;
  RowGate* decoder_;
  int lead_ = 0;                 // rows the decoder may be ahead before it helps
  std::atomic<int> decoded_{0};  // rows it has finished
  // While set, the used prefix's pages go under the decoder's rows to come
  // (MoveUsedPages) rather than back to the system.
  std::atomic<bool> movingPages_{false};
  std::uint8_t* movedFrom_ = nullptr;  // the cursors of MoveUsedPages
  std::uint8_t* movedTo_ = nullptr;
  FaceFiles paths_;
  bool sidesWritten_ = false;
  std::array<std::unique_ptr<JpegResultFile>, kSides> files_;
  Made made_;
  Bitmap seam_;  // rows of the back face, whose halves lie at both panorama ends

  std::mutex mutex_;
  std::condition_variable idle_;
  std::deque<Piece> queue_;
  std::array<bool, kJobs> busy_{};
  std::array<int, kJobs> done_{};  // each job's rows made, from its band's top
  std::array<int, 3> given_{};     // rows queued per band: top, middle, bottom
  int running_ = 0;
  std::exception_ptr failure_;
  std::vector<Task<void>> helpers_;  // after what they use
};

}  // namespace skyfold
