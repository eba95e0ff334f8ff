// skyfold: the window. Nothing is read from the command line except the
// hidden --screenshots DIR used to check the layout.
#include <QApplication>
#include <QFont>
#include <QLocale>

#include "app/AppIcon.h"
#include "app/Screenshots.h"
#include "app/Translations.h"
#include "app/Unit1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("skyfold"));
  // The layout is measured for an 11-pixel UI font that has Japanese glyphs.
  QFont font(QStringLiteral("Noto Sans CJK JP"));
  font.setPixelSize(11);
  QApplication::setFont(font);
  QApplication::setWindowIcon(skyfold::AppIcon());
  skyfold::InstallQtTranslations(app);
  // Dates and sizes in the file dialogs in Japanese too, like their texts.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));

  const QStringList args = QApplication::arguments();
  const qsizetype shots = args.indexOf(QStringLiteral("--screenshots"));
  if (shots > 0 && shots + 1 < args.size()) return skyfold::WriteScreenshots(args[shots + 1]);

  skyfold::TForm1 form;
  form.show();
  return app.exec();
}
