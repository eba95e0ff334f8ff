#include "app/Screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/PreviewPage.h"
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "console/ConsoleView.h"

namespace skyfold {
namespace {

bool Save(const QPixmap& pixmap, const QString& fileName) {
  if (pixmap.save(fileName)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(fileName));
  return false;
}

}  // namespace

int WriteScreenshots(const QString& dir) {
  if (!QDir().mkpath(dir)) return 1;
  QTemporaryDir settings;  // keep the user's settings out of it
  bool ok = true;
  {
    TForm1 form;
    form.SetSettingsFileName(settings.filePath(QStringLiteral("skyfold.ini")).toStdString());
    form.show();
    QCoreApplication::processEvents();
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto* console = form.findChild<TConsoleView*>(QStringLiteral("Editor1"));
    console->AddLine("読み込んでいます。　/tmp/pano.jpg");
    console->AddLine("座標を取得しています。................");
    console->AddLine("処理中 ");
    console->AddLine("......................................");
    // A panorama chosen by a drop, so the first tab and the preview show it.
    QTemporaryDir pictureDir;
    const QString panorama = pictureDir.filePath(QStringLiteral("lake.jpg"));
    {
      QImage image(512, 256, QImage::Format_RGB888);
      QPainter painter(&image);
      QLinearGradient sky(0, 0, 0, 256);
      sky.setColorAt(0, QColor(40, 90, 200));
      sky.setColorAt(0.5, QColor(200, 220, 255));
      sky.setColorAt(0.51, QColor(60, 120, 60));
      sky.setColorAt(1, QColor(30, 60, 30));
      painter.fillRect(image.rect(), sky);
      painter.end();
      image.save(panorama);
    }
    form.DropFiles({panorama});
    for (int i = 0; i < 200 && form.PreviewPage()->Busy(); ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(5);
    }
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      QCoreApplication::processEvents();
      ok &= Save(form.grab(), QDir(dir).filePath(QStringLiteral("tab%1.png").arg(i + 1)));
    }
    // A run under way: the bar and the cancel button in the status bar.
    pages->setCurrentIndex(2);
    form.ProgressBar()->setValue(420);
    form.ProgressBar()->setFormat(QStringLiteral("変換 42%"));
    form.ProgressBar()->show();
    form.CancelButton()->show();
    QCoreApplication::processEvents();
    ok &= Save(form.grab(), QDir(dir).filePath(QStringLiteral("running.png")));
    form.ProgressBar()->hide();
    form.CancelButton()->hide();

    // The file dialogs, in a folder with a few pictures in it.
    QTemporaryDir pictures;
    for (const char* name : {"lake.jpg", "lake_front.jpg", "room.tif"}) {
      QFile(pictures.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    }
    for (const char* name : {"OpenDialog1", "SaveDialog1"}) {
      auto* dialog = form.findChild<QFileDialog*>(QString::fromLatin1(name));
      if (!dialog) continue;
      dialog->setDirectory(pictures.path());
      dialog->show();
      for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
      ok &= Save(dialog->grab(),
                 QDir(dir).filePath(QString::fromLatin1(name).toLower() + QStringLiteral(".png")));
      dialog->hide();
    }
    pages->setCurrentIndex(0);
    form.close();
  }
  {
    TForm3 dialog;
    dialog.SetFileName("/home/user/pictures/panoramas/2024/summer/lake_front.jpg");
    dialog.show();
    QCoreApplication::processEvents();
    ok &= Save(dialog.grab(), QDir(dir).filePath(QStringLiteral("overwrite.png")));
  }
  return ok ? 0 : 1;
}

}  // namespace skyfold
