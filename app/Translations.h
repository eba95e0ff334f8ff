// Qt's own Japanese texts (standard dialogs, buttons, file dialog columns).
#pragma once

class QCoreApplication;

namespace skyfold {

// Loads qtbase_ja from Qt's translations folder into app; false when the
// translations are not installed (the program's own texts are Japanese anyway).
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace skyfold
