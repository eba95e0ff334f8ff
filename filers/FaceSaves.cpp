#include "filers/FaceSaves.h"

#include <memory>
#include <utility>

#include "filers/SimFilers.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"

namespace skyfold {

void FaceSaves::SaveJpeg(Bitmap& bitmap, const std::string& fileName, ImageMetadata metadata) {
  Save(bitmap, fileName,
       [outputs = run_.outputs, metadata = std::move(metadata)](const std::string& name,
                                                                const Bitmap& face) {
         if (metadata.Empty()) {
           SaveBitmapAsJpeg(name, face, 100, outputs);
           return;
         }
         OutputFile file(name, outputs);
         WriteWithMetadata(file, EncodeJpeg(face, 100), metadata);
         file.close();
       });
}

void FaceSaves::Save(Bitmap& bitmap, const std::string& fileName, Writer write) {
  // The face's memory goes with the task and back to the run's pool when it
  // is written; the cutter takes it again for a later face.
  auto face = std::make_shared<Bitmap>(bitmap.pool());
  face->swap(bitmap);
  pending_.push_back(
      run_.workers().Submit([face, fileName, write = std::move(write), cancel = &run_.cancel()] {
        cancel->Check();
        write(fileName, *face);
        *face = Bitmap();
      }));
  // No more faces wait than there are workers to take them.
  Settle(static_cast<std::size_t>(run_.Threads() - 1));
}

void FaceSaves::Settle(std::size_t keep) {
  const auto settleDone = [this] {
    // In face order, so the first failure is the one reported.
    while (!pending_.empty() && pending_.front().Done()) {
      Task<void> oldest = std::move(pending_.front());
      pending_.pop_front();
      oldest.Get();
    }
  };
  settleDone();
  // Faces held at once stay within the budget. Before waiting for one a
  // worker is encoding, this thread encodes one no worker has taken yet.
  while (pending_.size() > keep) {
    bool ranHere = false;
    for (auto it = pending_.rbegin(); it != pending_.rend() && !ranHere; ++it) {
      ranHere = it->RunHereIfPending();
    }
    if (!ranHere) {
      Task<void> oldest = std::move(pending_.front());
      pending_.pop_front();
      oldest.Get();
    }
    settleDone();
  }
}

void FaceSaves::Finish() { Settle(0); }

FaceSaves::Scope::Scope(FaceSaves& saves, TSimFiler& filer) : filer_(filer) {
  filer_.backgroundSaves_ = &saves;
}

FaceSaves::Scope::~Scope() { filer_.backgroundSaves_ = nullptr; }

}  // namespace skyfold
