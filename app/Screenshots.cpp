#include "app/Screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

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
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      QCoreApplication::processEvents();
      ok &= Save(form.grab(), QDir(dir).filePath(QStringLiteral("tab%1.png").arg(i + 1)));
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
