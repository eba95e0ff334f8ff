#include "filers/FaceSaves.h"

#include <memory>
#include <utility>

#include "filers/SimFilers.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"

namespace skyfold {

void FaceSaves::SaveJpeg(Bitmap& bitmap, const std::string& fileName, ImageMetadata metadata) {
  // The face's memory goes with the task and back to the run's pool when it
  // is written; the cutter takes it again for a later face.
  auto face = std::make_shared<Bitmap>(bitmap.pool());
  face->swap(bitmap);
  pending_.push_back(
      run_.workers().Submit([face, fileName, outputs = run_.outputs, cancel = &run_.cancel(),
                             metadata = std::move(metadata)] {
        cancel->Check();
        if (metadata.Empty()) {
          SaveBitmapAsJpeg(fileName, *face, 100, outputs);
        } else {
          OutputFile file(fileName, outputs);
          const std::vector<std::uint8_t> bytes = EmbedMetadata(EncodeJpeg(*face, 100), metadata);
          file.write(bytes.data(), bytes.size());
          file.close();
        }
        *face = Bitmap();
      }));
  Settle(static_cast<std::size_t>(run_.Threads()));
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
