// FaceSaves: the JPEG faces of a forward run encoded on the run's workers
// while the next faces are cut. libjpeg encodes on one core; six faces of
// 4096 take longer to encode than to cut, so with n threads up to n faces
// are encoded at once: one on each of the n − 1 workers, and one by the
// cutting thread itself rather than leave it waiting for a worker (a
// waiting face is held memory, 48 MB of fresh pages at 4096). Each face is
// written to its own temporary file and committed with the others, so the
// order the encodings finish in changes nothing: the bytes are those of the
// same face saved in place.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "filers/RunContext.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageMetadata.h"

namespace skyfold {

class TSimFiler;

class FaceSaves {
 public:
  explicit FaceSaves(RunContext& run) : run_(run) {}
  // Drops the saves still waiting; waits for those under way.
  ~FaceSaves() = default;
  FaceSaves(const FaceSaves&) = delete;
  FaceSaves& operator=(const FaceSaves&) = delete;

  bool Enabled() const { return run_.Threads() > 1; }
  // Takes the bitmap's pixels (it is left empty) and writes them as a JPEG
  // of quality 100 to fileName in the background, with the metadata.
  void SaveJpeg(Bitmap& bitmap, const std::string& fileName, ImageMetadata metadata = {});
  // The same for any writer: write(fileName, pixels) runs in the background.
  using Writer = std::function<void(const std::string& fileName, const Bitmap& bitmap)>;
  void Save(Bitmap& bitmap, const std::string& fileName, Writer write);
  // Waits for every save; rethrows the failure of the first that failed.
  void Finish();

  // While one lives, the filer's SaveImage may hand JPEG faces to saves.
  class Scope {
   public:
    Scope(FaceSaves& saves, TSimFiler& filer);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    TSimFiler& filer_;
  };

 private:
  // Settles finished saves, then waits (helping) until at most keep remain.
  void Settle(std::size_t keep);

  RunContext& run_;
  std::deque<Task<void>> pending_;
};

}  // namespace skyfold
