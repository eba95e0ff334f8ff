// One QApplication for the whole GUI test program, with the window's UI
// font. A dialog that a test did not expect fails the test instead of
// blocking it: the seam then answers it with Rejected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <memory>

#include "app/DialogSeam.h"
#include "app/Translations.h"

namespace {

class GuiTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    skyfold::InstallQtTranslations(*app_);
    skyfold::SetUnqueuedDialogHandler([](QDialog& dialog) {
      ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString() << " \""
                    << dialog.windowTitle().toStdString() << "\"";
      return static_cast<int>(QDialog::Rejected);
    });
  }
  void TearDown() override {
    skyfold::SetUnqueuedDialogHandler(nullptr);
    app_.reset();
  }

 private:
  int argc_ = 1;
  char name_[24] = "skyfold_gui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace
