// Helpers of the GUI tests: a shown main window on a temporary settings
// file, and queued answers for the dialogs it opens (see app/DialogSeam.h).
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest/QTest>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/DialogSeam.h"
#include "app/RadioGroup.h"
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "console/ConsoleView.h"
#include "support/PanoramaTestImages.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace skyfold::test {

// Runs the real modal exec() while alive (for tests of a dialog itself).
class RealDialogs {
 public:
  RealDialogs() : previous_(SetUnqueuedDialogHandler(nullptr)) {}
  ~RealDialogs() { SetUnqueuedDialogHandler(std::move(previous_)); }
  RealDialogs(const RealDialogs&) = delete;
  RealDialogs& operator=(const RealDialogs&) = delete;

 private:
  DialogAnswer previous_;
};

// The next file dialog chooses path.
inline void AnswerFileDialog(const std::string& path) {
  QueueDialogAnswer([path](QDialog& d) {
    auto* dialog = qobject_cast<QFileDialog*>(&d);
    EXPECT_NE(dialog, nullptr) << "expected a file dialog";
    if (!dialog) return static_cast<int>(QDialog::Rejected);
    dialog->selectFile(QString::fromStdString(path));
    return static_cast<int>(QDialog::Accepted);
  });
}

inline void CancelNextDialog() {
  QueueDialogAnswer([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
}

// What the overwrite question showed.
struct OverwriteQuestion {
  bool asked = false;
  QString label;
  QWidget* pageWhileAsked = nullptr;
  int consoleLinesWhileAsked = -1;
};

// The next dialog is the overwrite question: optionally tick its box, then
// press Yes (kYes), No (kNo) or close it through the frame (kClosed).
inline std::shared_ptr<OverwriteQuestion> AnswerOverwrite(int answer, bool tick,
                                                          TForm1* window = nullptr) {
  auto seen = std::make_shared<OverwriteQuestion>();
  QueueDialogAnswer([=](QDialog& d) {
    auto* dialog = qobject_cast<TForm3*>(&d);
    EXPECT_NE(dialog, nullptr) << "expected the overwrite question";
    if (!dialog) return static_cast<int>(QDialog::Rejected);
    seen->asked = true;
    seen->label = dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text();
    if (window) {
      seen->pageWhileAsked =
          window->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->currentWidget();
      seen->consoleLinesWhileAsked =
          window->findChild<TConsoleView*>(QStringLiteral("Editor1"))->LineCount();
    }
    if (tick) dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
    if (answer == TForm3::kYes) dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    if (answer == TForm3::kNo) dialog->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
    if (answer == TForm3::kClosed) dialog->close();
    return dialog->result();
  });
  return seen;
}

// The next dialog is the error box; its texts are collected.
inline void ExpectErrorBox(std::shared_ptr<std::vector<std::string>> texts) {
  QueueDialogAnswer([texts](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    EXPECT_NE(box, nullptr) << "expected the error box";
    if (!box) return static_cast<int>(QDialog::Rejected);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("エラー"));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    texts->push_back(box->text().toStdString());
    return static_cast<int>(QMessageBox::Ok);
  });
}

// A shown main window whose settings live in a temporary folder.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearDialogAnswers();
    settingsFile = dir.file("skyfold.ini");
    OpenWindow();
  }

  void TearDown() override {
    if (form) CloseWindow();
    EXPECT_EQ(PendingDialogAnswers(), 0u) << "a dialog the test expected did not open";
    ClearDialogAnswers();
  }

  void OpenWindow() {
    form = std::make_unique<TForm1>();
    form->SetSettingsFileName(settingsFile);
    form->show();
  }

  void CloseWindow() {
    form->close();
    form.reset();
  }

  template <typename T>
  T* Child(const char* name) const {
    T* w = form->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QLineEdit* Edit(const char* name) const { return Child<QLineEdit>(name); }
  QCheckBox* Box(const char* name) const { return Child<QCheckBox>(name); }
  TRadioGroup* Group(const char* name) const { return Child<TRadioGroup>(name); }
  TConsoleView* Console() const { return Child<TConsoleView>("Editor1"); }
  QWidget* CurrentPage() const { return Child<QTabWidget>("PageControl1")->currentWidget(); }
  void ShowPage(const char* name) const {
    Child<QTabWidget>("PageControl1")->setCurrentWidget(Child<QWidget>(name));
  }
  void Click(const char* name) const {
    QTest::mouseClick(Child<QAbstractButton>(name), Qt::LeftButton);
  }
  // Clicks item index of a radio group like a user.
  void ClickItem(const char* group, int index) const {
    QTest::mouseClick(Group(group)->button(index), Qt::LeftButton);
  }
  std::vector<std::string> ConsoleLines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < Console()->LineCount(); ++i) lines.push_back(Console()->GetLine(i));
    return lines;
  }

  TempDir dir;
  std::string settingsFile;
  std::unique_ptr<TForm1> form;
};

}  // namespace skyfold::test
