#include "filers/FaceSaves.h"

#include <memory>
#include <utility>

#include "filers/SimFilers.h"
#include "imaging/JpegIO.h"

namespace skyfold {

void FaceSaves::SaveJpeg(Bitmap& bitmap, const std::string& fileName) {
  // The face's memory goes with the task and back to the run's pool when it
  // is written; the cutter takes it again for a later face.
  auto face = std::make_shared<Bitmap>(bitmap.pool());
  face->swap(bitmap);
  pending_.push_back(
      run_.workers().Submit([face, fileName, outputs = run_.outputs, cancel = &run_.cancel()] {
        cancel->Check();
        SaveBitmapAsJpeg(fileName, *face, 100, outputs);
        *face = Bitmap();
      }));
  // Faces held at once stay within the thread budget. Before waiting for
  // the oldest, which a worker may be encoding, this thread encodes the
  // newest one no worker has taken yet.
  while (pending_.size() > static_cast<std::size_t>(run_.Threads())) {
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
      if (it->RunHereIfPending()) break;
    }
    // Settled in face order: the first failure is the one reported.
    Task<void> oldest = std::move(pending_.front());
    pending_.pop_front();
    oldest.Get();
  }
}

void FaceSaves::Finish() {
  while (!pending_.empty()) {
    Task<void> oldest = std::move(pending_.front());
    pending_.pop_front();
    oldest.Get();
  }
}

FaceSaves::Scope::Scope(FaceSaves& saves, TSimFiler& filer) : filer_(filer) {
  filer_.backgroundSaves_ = &saves;
}

FaceSaves::Scope::~Scope() { filer_.backgroundSaves_ = nullptr; }

}  // namespace skyfold
