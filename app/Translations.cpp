#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace skyfold {

bool InstallQtTranslations(QCoreApplication& app) {
  auto translator = std::make_unique<QTranslator>(&app);
  if (!translator->load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  // From here the application, its parent, owns it.
  return QCoreApplication::installTranslator(translator.release());
}

}  // namespace skyfold
