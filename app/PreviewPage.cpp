#include "app/PreviewPage.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <array>

#include "imaging/Bitmap.h"
#include "imaging/JpegIO.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

// The largest of 8, 4, 2 by which a JPEG can be decoded down and still cover
// the preview; 1 when no smaller decode covers it, 0 when it is no JPEG.
int JpegPreviewScale(const std::string& file, int maxWidth, int maxHeight) {
  int width = 0, height = 0;
  if (!ReadJpegSize(file, width, height)) return 0;
  int denom = 8;
  while (denom > 1 &&
         ((width + denom - 1) / denom < maxWidth || (height + denom - 1) / denom < maxHeight)) {
    denom /= 2;
  }
  return denom;
}

QImage LoadScaled(const std::string& file, int maxWidth, int maxHeight) {
  // Only names the loader accepts: any other would raise its message box
  // from this worker.
  if (GetImageFileKind(file) == ikUnknown) return {};
  Bitmap bitmap;
  try {
    // A large JPEG is decoded no larger than its preview needs: whole, a
    // 16384 panorama would take seconds and a gigabyte for 360 pixels.
    if (const int denom = JpegPreviewScale(file, maxWidth, maxHeight); denom > 0) {
      DecodeContext scaled;
      scaled.scaleDenom = denom;
      ReadJpegFile(file, bitmap, nullptr, scaled);
    } else if (!LoadImageFile(bitmap, file)) {
      return {};
    }
    if (bitmap.format() != PixelFormat::Bgr24) ConvertToBgr24(bitmap);
  } catch (const std::exception&) {
    return {};  // a preview is no place for the decoder's complaint
  }
  const QImage view(bitmap.row(0), bitmap.width(), bitmap.height(),
                    static_cast<qsizetype>(bitmap.rowBytes()), QImage::Format_BGR888);
  return view.scaled(maxWidth, maxHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

TPreviewPage::TPreviewPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TabSheetPreview"));
  auto* page = new QVBoxLayout(this);
  const char* captions[] = {"パノラマ画像", "キューブ６面", "書き出した画像"};
  for (int i = 0; i < 3; ++i) {
    auto* box = new QGroupBox(QString::fromUtf8(captions[i]), this);
    auto* layout = new QVBoxLayout(box);
    pictures_[i] = new QLabel(box);
    pictures_[i]->setObjectName(QStringLiteral("Image_Preview%1").arg(i));
    pictures_[i]->setAlignment(Qt::AlignCenter);
    pictures_[i]->setMinimumHeight(110);
    layout->addWidget(pictures_[i]);
    page->addWidget(box);
  }
  poll_.setInterval(40);
  connect(&poll_, &QTimer::timeout, this, &TPreviewPage::Poll);
}

TPreviewPage::~TPreviewPage() = default;

QImage TPreviewPage::Render(const std::vector<std::string>& files, int maxWidth) {
  if (files.size() == 1) return LoadScaled(files[0], maxWidth, maxWidth / 2);
  if (files.size() != 6) return {};
  // A horizontal cross: left, front, right, back across the middle, top
  // above front, bottom below it.
  const int cell = maxWidth / 4;
  static constexpr std::array<QPoint, 6> kCells{QPoint(0, 1), QPoint(1, 1), QPoint(2, 1),
                                                QPoint(3, 1), QPoint(1, 0), QPoint(1, 2)};
  QImage cross(cell * 4, cell * 3, QImage::Format_RGB888);
  cross.fill(Qt::black);
  QPainter painter(&cross);
  bool any = false;
  for (std::size_t i = 0; i < 6; ++i) {
    const QImage face = LoadScaled(files[i], cell, cell);
    if (face.isNull()) continue;
    any = true;
    painter.drawImage(QRect(kCells[i].x() * cell, kCells[i].y() * cell, cell, cell), face);
  }
  painter.end();
  return any ? cross : QImage();
}

void TPreviewPage::Show(Slot slot, std::vector<std::string> files) {
  if (pending_[slot].Valid()) stale_.push_back(std::move(pending_[slot]));
  pictures_[slot]->clear();
  if (files.empty()) {
    if (!stale_.empty()) poll_.start();
    return;
  }
  const int width = 360;
  pending_[slot] =
      pool_.workers().Submit([files = std::move(files), width] { return Render(files, width); });
  poll_.start();
}

bool TPreviewPage::Busy() const {
  if (!stale_.empty()) return true;
  for (const Task<QImage>& task : pending_) {
    if (task.Valid()) return true;
  }
  return false;
}

void TPreviewPage::Poll() {
  for (int i = 0; i < 3; ++i) {
    if (!pending_[i].Valid() || !pending_[i].Done()) continue;
    const QImage image = pending_[i].Get();
    pictures_[i]->setPixmap(QPixmap::fromImage(image));
  }
  std::erase_if(stale_, [](const Task<QImage>& task) { return task.Done(); });
  if (!Busy()) poll_.stop();
}

}  // namespace skyfold
