// The overwrite question, shown for real (timers press its keys and buttons
// while it runs modally), and the folder picker, answered through the seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/BrowsDlg.h"
#include "gui/GuiTestSupport.h"

namespace skyfold {
namespace {

using test::RealDialogs;
using test::TempDir;

// Runs ConfirmOverwrite for real; act gets the open dialog. A dialog left
// open by a failing test is closed after a few seconds instead of hanging.
int AskForReal(const std::string& fileName, bool& dontShowAgain,
               const std::function<void(TForm3&)>& act) {
  RealDialogs real;
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<TForm3*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(*dialog);
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      ADD_FAILURE() << "the dialog did not close";
      dialog->done(-1);
    }
  });
  guard.start(5000);
  return TForm3::ConfirmOverwrite(fileName, dontShowAgain);
}

template <typename T>
T* Find(QWidget& w, const char* name) {
  T* child = w.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

TEST(OverwriteDialog, LooksAsDesignedAndEveryCaptionFits) {
  TForm3 dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("警告"));
  EXPECT_EQ(dialog.size(), QSize(422, 150));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_EQ(dialog.font().pixelSize(), 12);
  EXPECT_EQ(Find<QLabel>(dialog, "Image1")->geometry(), QRect(19, 16, 32, 32));
  EXPECT_FALSE(Find<QLabel>(dialog, "Image1")->pixmap().isNull());
  EXPECT_TRUE(Find<QLabel>(dialog, "Label1")->font().bold());
  EXPECT_EQ(Find<QLabel>(dialog, "Label2")->text(), QStringLiteral("上書きしますか？"));
  auto* yes = Find<QPushButton>(dialog, "Button1");
  auto* no = Find<QPushButton>(dialog, "Button2");
  auto* box = Find<QCheckBox>(dialog, "CheckBox1");
  EXPECT_EQ(yes->geometry(), QRect(232, 111, 75, 25));
  EXPECT_EQ(no->geometry(), QRect(322, 111, 75, 25));
  EXPECT_EQ(yes->text(), QStringLiteral("はい(&Y)"));
  EXPECT_EQ(no->text(), QStringLiteral("いいえ(&N)"));
  EXPECT_EQ(box->text(), QStringLiteral("今後このダイアログを表示しない。"));
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(yes->isDefault());
  EXPECT_FALSE(no->isDefault());
  for (QPushButton* b : {yes, no}) {
    const QString caption = b->text().remove(QLatin1Char('&'));
    EXPECT_LT(b->fontMetrics().horizontalAdvance(caption) + 8, b->width());
  }
  EXPECT_GE(box->width(), box->sizeHint().width());
  EXPECT_LT(box->geometry().right(), yes->x());
  EXPECT_EQ(yes->nextInFocusChain(), no);
  EXPECT_EQ(no->nextInFocusChain(), box);
}

TEST(OverwriteDialog, YesAnswersSixAndReportsTheUntickedBox) {
  bool dontShowAgain = true;
  const int answer = AskForReal("/tmp/out/pano_left.bmp", dontShowAgain, [](TForm3& d) {
    QTest::mouseClick(Find<QPushButton>(d, "Button1"), Qt::LeftButton);
  });
  EXPECT_EQ(answer, 6);
  EXPECT_FALSE(dontShowAgain);
}

TEST(OverwriteDialog, NoWithTheBoxTickedAnswersSevenAndDontShowAgain) {
  bool dontShowAgain = false;
  const int answer = AskForReal("/tmp/out/pano_left.bmp", dontShowAgain, [](TForm3& d) {
    QTest::mouseClick(Find<QCheckBox>(d, "CheckBox1"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(d, "Button2"), Qt::LeftButton);
  });
  EXPECT_EQ(answer, 7);
  EXPECT_TRUE(dontShowAgain);
}

TEST(OverwriteDialog, EscapeDoesNothingAndClosingThroughTheFrameAnswersTwo) {
  bool dontShowAgain = false;
  bool stillOpenAfterEscape = false;
  const int answer = AskForReal("/tmp/x.bmp", dontShowAgain, [&](TForm3& d) {
    QTest::mouseClick(Find<QCheckBox>(d, "CheckBox1"), Qt::LeftButton);
    QTest::keyClick(&d, Qt::Key_Escape);
    stillOpenAfterEscape = d.isVisible();
    d.close();
  });
  EXPECT_TRUE(stillOpenAfterEscape);
  EXPECT_EQ(answer, 2);
  EXPECT_TRUE(dontShowAgain);
}

TEST(OverwriteDialog, EnterRightAfterOpeningAnswersYes) {
  bool dontShowAgain = true;
  QWidget* focused = nullptr;
  const int answer = AskForReal("/tmp/x.bmp", dontShowAgain, [&](TForm3& d) {
    focused = d.focusWidget();
    QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Return);
  });
  ASSERT_NE(focused, nullptr);
  EXPECT_EQ(focused->objectName(), QStringLiteral("Button1"));
  EXPECT_EQ(answer, 6);
}

TEST(OverwriteDialog, ALongPathIsShortenedTo300PixelsOfTheRegularFontAndAShortOneShownWhole) {
  TForm3 dialog;
  const QFontMetrics regular(dialog.font());
  const std::string shortPath = "/tmp/a.bmp";
  EXPECT_EQ(dialog.ShortenedFileName(shortPath), QString::fromStdString(shortPath));

  const std::string longPath =
      "/home/user/写真/パノラマ/2024/夏の旅行/湖のほとり/朝の景色/output/pano_front.jpg";
  const QString shown = dialog.ShortenedFileName(longPath);
  EXPECT_LE(regular.horizontalAdvance(shown), 300);
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/.../"))) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral("/pano_front.jpg")));

  dialog.SetFileName(longPath);
  EXPECT_EQ(Find<QLabel>(dialog, "Label1")->text(), shown);
}

// ---- folder picker ----

class BrowseDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearDialogAnswers();
    QDir(QString::fromStdString(dir.path())).mkpath(QStringLiteral("out/deeper"));
  }
  void TearDown() override {
    EXPECT_EQ(PendingDialogAnswers(), 0u);
    ClearDialogAnswers();
  }
  std::string Out() const { return dir.file("out"); }
  TempDir dir;
};

TEST_F(BrowseDialogTest, ChoosingAFolderReturnsItsPathAndCancelKeepsTheLastChoice) {
  TBrowseDialog browse;
  test::AnswerFileDialog(Out());
  ASSERT_TRUE(browse.Execute());
  EXPECT_EQ(browse.Directory, Out());
  EXPECT_EQ(browse.DisplayName, "out");

  test::CancelNextDialog();
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(browse.Directory, Out());
}

TEST_F(BrowseDialogTest, OpensOnTheDirectoryWithoutItsTrailingDelimiterButKeepsTheRoot) {
  EXPECT_EQ(TBrowseDialog::PreselectPath("/data/out/"), "/data/out");
  EXPECT_EQ(TBrowseDialog::PreselectPath("/data/out"), "/data/out");
  EXPECT_EQ(TBrowseDialog::PreselectPath("/"), "/");
  EXPECT_EQ(TBrowseDialog::PreselectPath(""), "");

  TBrowseDialog browse;
  browse.Directory = Out() + "/";
  std::string initialPath = "unset";
  browse.OnInitialized = [&](TBrowseDialog&, QWidget*, const std::string& path, std::string&,
                             TOKButtonState&) { initialPath = path; };
  QueueDialogAnswer([&](QDialog& d) {
    auto& files = static_cast<QFileDialog&>(d);
    EXPECT_EQ(files.fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(files.testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(files.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(files.selectedFiles().value(0), QString::fromStdString(Out()));
    return static_cast<int>(QDialog::Accepted);  // OK on the preselected folder
  });
  ASSERT_TRUE(browse.Execute());
  EXPECT_EQ(initialPath, Out());
  EXPECT_EQ(browse.Directory, Out());
}

TEST_F(BrowseDialogTest, StartsAtRootWhenNoDirectoryIsGiven) {
  TBrowseDialog browse;
  browse.Root = Out();
  std::string initialPath = "unset";
  browse.OnInitialized = [&](TBrowseDialog&, QWidget*, const std::string& path, std::string&,
                             TOKButtonState&) { initialPath = path; };
  QueueDialogAnswer([&](QDialog& d) {
    EXPECT_EQ(static_cast<QFileDialog&>(d).directory().absolutePath(),
              QString::fromStdString(Out()));
    return static_cast<int>(QDialog::Rejected);
  });
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(initialPath, "");
  EXPECT_EQ(browse.Directory, "");
}

TEST_F(BrowseDialogTest, HandlersSetTheStatusTextAndTheOkButtonAsTheSelectionMoves) {
  TBrowseDialog browse;
  browse.Options = biReturnOnlyFSDirs | biStatusText;
  browse.Directory = Out();
  browse.OnInitialized = [](TBrowseDialog&, QWidget*, const std::string& path,
                            std::string& showText, TOKButtonState& ok) {
    showText = "start " + path;
    ok = obsDisabled;
  };
  std::vector<std::string> seen;
  browse.OnSelectionChanged = [&](TBrowseDialog&, QWidget*, const std::string& path,
                                  std::string& showText, TOKButtonState& ok) {
    seen.push_back(path);
    showText = "now " + path;
    ok = obsEnabled;
  };
  QueueDialogAnswer([&](QDialog& d) {
    auto* status = d.findChild<QLabel*>(QStringLiteral("StatusText"));
    auto* ok = d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
    EXPECT_NE(status, nullptr);
    EXPECT_NE(ok, nullptr);
    if (!status || !ok) return static_cast<int>(QDialog::Rejected);
    EXPECT_EQ(status->text().toStdString(), "start " + Out());
    EXPECT_FALSE(ok->isEnabled());
    const QString deeper = QString::fromStdString(Out() + "/deeper");
    emit static_cast<QFileDialog&>(d).currentChanged(deeper);
    QCoreApplication::processEvents();
    EXPECT_EQ(status->text(), QStringLiteral("now ") + deeper);
    EXPECT_TRUE(ok->isEnabled());
    return static_cast<int>(QDialog::Rejected);
  });
  EXPECT_FALSE(browse.Execute());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), Out() + "/deeper");
}

}  // namespace
}  // namespace skyfold
