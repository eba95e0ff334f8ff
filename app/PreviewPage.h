// TPreviewPage: the window's fifth tab. Shows the chosen panorama, the six
// faces a to-panorama run read as a cross, and what the last run
// wrote. Pictures are decoded on the page's own single worker, so a large
// panorama never stalls the window; a newer request replaces an older one.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Parallel.h"

class QLabel;

namespace skyfold {

class TPreviewPage : public QWidget {
  Q_OBJECT

 public:
  enum Slot { kPanorama = 0, kCube = 1, kWritten = 2 };

  explicit TPreviewPage(QWidget* parent = nullptr);
  ~TPreviewPage() override;

  // One file (a panorama) or six faces in the order left, front, right,
  // back, top, bottom (laid out as a cross); empty clears the slot.
  void Show(Slot slot, std::vector<std::string> files);
  // True while a picture is still being decoded.
  bool Busy() const;
  QLabel* Picture(Slot slot) const { return pictures_[slot]; }

  // The preview of files, at most maxWidth wide (a null image when one does
  // not load). Safe on any thread.
  static QImage Render(const std::vector<std::string>& files, int maxWidth);

 private:
  void Poll();

  QLabel* pictures_[3];
  // The GUI thread and one worker.
  ThreadPool pool_{2};
  Task<QImage> pending_[3];
  // Superseded requests still decoding: dropped once done, never waited for.
  std::vector<Task<QImage>> stale_;
  QTimer poll_;
};

}  // namespace skyfold
