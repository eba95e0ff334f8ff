// What the window adds for a desktop user: Qt's Japanese texts, Tab into a
// group on its checked item, no default button in the overwrite question,
// the progress bar and cancel, drops, and the options' settings.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/OptionsPage.h"
#include "app/PreviewPage.h"
#include "gui/GuiTestSupport.h"
#include "imaging/BmpIO.h"

namespace skyfold {
namespace {

using test::AnswerFileDialog;
using test::TempDir;

std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ConveniencesTest : public test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    pano = dir.file("pano.bmp");
    SaveBitmapAsBmp(pano, test::DrawTexturedPanorama(256));
  }
  void PrepareForward() {
    ShowPage("TabSheet1");
    AnswerFileDialog(pano);
    Click("SpeedButton_Image");
    QTest::keyClicks(Edit("Edit_TextureBaseName"), "tex");
    ClickItem("RadioGroup_ImageSize", 0);
  }
  QStatusBar* Status() const { return Child<QStatusBar>("StatusBar1"); }
  std::string pano;
};

TEST_F(ConveniencesTest, QtsOwnTextsAreJapanese) {
  QDialogButtonBox box(QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
}

// Each group holds a selection away from its first item; Tab from the
// widget before it lands on that selection.
struct FocusCase {
  const char* page;
  const char* group;
  int item;
};

class FocusChainTest : public ConveniencesTest, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusChainTest, TabIntoAGroupLandsOnItsCheckedItem) {
  const FocusCase& c = GetParam();
  ShowPage(c.page);
  form->activateWindow();
  TRadioGroup* group = Group(c.group);
  group->setItemIndex(c.item);
  // Walk the chain from the previous tab stop until the group is entered.
  QWidget* entered = nullptr;
  QWidget* w = group->button(c.item);
  QWidget* before = w->previousInFocusChain();
  while (before && before->parentWidget() == group) before = before->previousInFocusChain();
  for (QWidget* step = before->nextInFocusChain(); step != before;
       step = step->nextInFocusChain()) {
    if (step->parentWidget() == group && (step->focusPolicy() & Qt::TabFocus)) {
      entered = step;
      break;
    }
  }
  EXPECT_EQ(entered, group->button(c.item));
  for (int i = 0; i < group->count(); ++i) {
    if (i != c.item) {
      EXPECT_FALSE(group->button(i)->focusPolicy() & Qt::TabFocus) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, FocusChainTest,
                         ::testing::Values(FocusCase{"TabSheet1", "RadioGroup_ImageSize", 4},
                                           FocusCase{"TabSheet1", "RadioGroup_CubeSuffix", 1},
                                           FocusCase{"TabSheet2", "RadioGroup_PanoImageSize", 5},
                                           FocusCase{"TabSheet2", "RadioGroup_PanoImageType", 2}));

TEST_F(ConveniencesTest, JapaneseAndAsciiConsoleLinesHaveOneHeight) {
  TConsoleView* console = Console();
  console->AddLine("座標を取得しています。");
  console->AddLine("................");
  QAbstractTextDocumentLayout* layout = console->document()->documentLayout();
  const QTextBlock first = console->document()->findBlockByNumber(0);
  EXPECT_EQ(layout->blockBoundingRect(first).height(),
            layout->blockBoundingRect(first.next()).height());
}

TEST_F(ConveniencesTest, EnterOnTheOverwriteCheckBoxDoesNotCloseItAndOnNoPressesNo) {
  test::RealDialogs real;
  TForm3 dialog;
  dialog.show();
  auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
  auto* yes = dialog.findChild<QPushButton*>(QStringLiteral("Button1"));
  auto* no = dialog.findChild<QPushButton*>(QStringLiteral("Button2"));
  EXPECT_FALSE(yes->autoDefault() || yes->isDefault());
  EXPECT_FALSE(no->autoDefault() || no->isDefault());
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  no->setFocus();
  QTest::keyClick(no, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), TForm3::kNo);
}

TEST_F(ConveniencesTest, ProgressEventsMoveTheBarAndTheStatusBarSaysWhatWasWritten) {
  PrepareForward();
  std::vector<int> seen;
  bool visible = false;
  QObject::connect(form->ProgressBar(), &QProgressBar::valueChanged, [&](int v) {
    seen.push_back(v);
    visible = visible || form->ProgressBar()->isVisible();
  });
  Click("SpeedButton_Execute");
  ASSERT_GE(seen.size(), 3u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << ::testing::PrintToString(seen);
  EXPECT_GT(seen.back(), 900);
  EXPECT_TRUE(visible);
  EXPECT_FALSE(form->ProgressBar()->isVisible());
  EXPECT_EQ(Status()->currentMessage(), QStringLiteral("6 個のファイルを書き出しました。"));
}

TEST_F(ConveniencesTest, CancelMidRunLeavesTheFolderUnchanged) {
  PrepareForward();
  const std::vector<std::string> before = FolderListing(dir.path());
  bool cancelled = false;
  // Cancel at the first progress the GUI thread shows: the run is under way.
  QObject::connect(form->ProgressBar(), &QProgressBar::valueChanged, [&](int v) {
    if (v > 0 && !cancelled && form->CancelButton()->isVisible()) {
      cancelled = true;
      QTest::mouseClick(form->CancelButton(), Qt::LeftButton);
    }
  });
  Click("SpeedButton_Execute");
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(FolderListing(dir.path()), before);
  EXPECT_EQ(Status()->currentMessage(), QStringLiteral("キャンセルしました。"));
}

TEST_F(ConveniencesTest, ADropFillsTheEditOfTheTabItLandsOn) {
  const auto drop = [&](const std::string& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Delivered as the window's drag-and-drop handling delivers it.
    static_cast<QObject*>(form.get())->event(&drop);
  };
  ShowPage("TabSheet1");
  drop(pano);
  EXPECT_EQ(Edit("Edit_ImageFileName")->text().toStdString(), pano);
  // Same folder is on by default: the folder follows the panorama.
  EXPECT_EQ(Edit("Edit_DataFolder")->text().toStdString(), dir.path() + "/");
  ShowPage("TabSheet2");
  drop(dir.file("tex_front.bmp"));
  EXPECT_EQ(Edit("Edit_CubeImageFilename")->text().toStdString(), dir.file("tex_front.bmp"));
}

TEST_F(ConveniencesTest, SeveralDroppedPanoramasRunOneAfterAnother) {
  const std::string second = dir.file("second.bmp");
  SaveBitmapAsBmp(second, test::DrawTexturedPanorama(256));
  ShowPage("TabSheet1");
  ClickItem("RadioGroup_ImageSize", 0);
  form->DropFiles({QString::fromStdString(pano), QString::fromStdString(second)});
  // Each panorama names its own faces; the base name typed stays.
  EXPECT_TRUE(Edit("Edit_TextureBaseName")->text().isEmpty());
  EXPECT_TRUE(std::filesystem::exists(dir.file("pano_front.jpg")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("second_front.jpg")));
  EXPECT_EQ(Status()->currentMessage(), QStringLiteral("12 個のファイルを書き出しました。"));
}

// Waits (with the event loop running) for the previews to be decoded.
void WaitForPreviews(TPreviewPage* page) {
  for (int i = 0; i < 200 && page->Busy(); ++i) QTest::qWait(10);
  EXPECT_FALSE(page->Busy());
}

bool HasPicture(TPreviewPage* page, TPreviewPage::Slot slot) {
  return !page->Picture(slot)->pixmap().isNull();
}

TEST_F(ConveniencesTest, PreviewsShowThePanoramaAndTheFacesWrittenThenTheFacesRead) {
  TPreviewPage* previews = form->PreviewPage();
  PrepareForward();
  WaitForPreviews(previews);
  EXPECT_TRUE(HasPicture(previews, TPreviewPage::kPanorama));
  EXPECT_FALSE(HasPicture(previews, TPreviewPage::kWritten));
  Click("SpeedButton_Execute");
  WaitForPreviews(previews);
  const QPixmap cross = previews->Picture(TPreviewPage::kWritten)->pixmap();
  ASSERT_FALSE(cross.isNull());
  EXPECT_EQ(cross.width() * 3, cross.height() * 4);  // six faces as a horizontal cross

  ShowPage("TabSheet2");
  AnswerFileDialog(dir.file("tex_front.jpg"));
  Click("SpeedButton_CubeImage");
  // The faces chosen are shown before any run.
  WaitForPreviews(previews);
  const QPixmap chosen = previews->Picture(TPreviewPage::kCube)->pixmap();
  ASSERT_FALSE(chosen.isNull());
  EXPECT_EQ(chosen.width() * 3, chosen.height() * 4);
  AnswerFileDialog(dir.file("back.tif"));
  Click("SpeedButton_PanoFileName");
  ClickItem("RadioGroup_PanoImageSize", 0);
  Click("SpeedButton_CubeToPanoExecute");
  WaitForPreviews(previews);
  EXPECT_TRUE(HasPicture(previews, TPreviewPage::kCube));
  const QPixmap pano = previews->Picture(TPreviewPage::kWritten)->pixmap();
  ASSERT_FALSE(pano.isNull());
  EXPECT_EQ(pano.width(), pano.height() * 2);
}

TEST_F(ConveniencesTest, OptionsRoundTripThroughTheIniAfterTheDesignsKeys) {
  TOptionsPage* page = form->OptionsPage();
  page->PresetBox()->setCurrentText(QStringLiteral("pannellum"));
  page->LayoutBox()->setCurrentText(QStringLiteral("hcross"));
  page->NameTemplateEdit()->setText(QStringLiteral("{base}/{face}"));
  page->YawBox()->setValue(30.5);
  page->PitchBox()->setValue(-20);
  page->RollBox()->setValue(10);
  page->FilterBox()->setCurrentText(QStringLiteral("lanczos3"));
  page->StripMetadataBox()->setChecked(true);
  CloseWindow();

  std::ifstream in(settingsFile);
  const std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_LT(ini.find("PanoImageSize="), ini.find("Preset=pannellum"));

  OpenWindow();
  JobOptions options;
  form->OptionsPage()->ApplyTo(options);
  EXPECT_EQ(options.arrangement.preset, "pannellum");
  EXPECT_EQ(options.arrangement.layout, "hcross");
  EXPECT_EQ(options.arrangement.nameTemplate, "{base}/{face}");
  EXPECT_DOUBLE_EQ(options.resample.yaw, 30.5);
  EXPECT_DOUBLE_EQ(options.resample.pitch, -20);
  EXPECT_DOUBLE_EQ(options.resample.roll, 10);
  EXPECT_EQ(options.resample.filter, ResampleFilter::Lanczos3);
  EXPECT_TRUE(options.output.stripMetadata);
}

TEST_F(ConveniencesTest, AnIniOfOnlyTheDesignsKeysLoadsAsBeforeWithDefaultOptions) {
  CloseWindow();
  std::ofstream(settingsFile) << "[data]\nCubeImageType=2\nCheckOverWrite=0\nTopRotate=1\n"
                                 "CubeImageSize=1\nCubeSuffix=1\nChangeLeftRight=0\n"
                                 "SameFolder=0\nPanoImageType=0\nPanoImageSize=3\n";
  OpenWindow();
  EXPECT_EQ(Group("RadioGroup_ExtractImageType")->itemIndex(), 2);
  EXPECT_EQ(Group("RadioGroup_ImageSize")->itemIndex(), 1);
  EXPECT_EQ(Group("RadioGroup_PanoImageSize")->itemIndex(), 3);
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(Box("CheckBox_TopRotate")->isChecked());
  JobOptions options;
  form->OptionsPage()->ApplyTo(options);
  const JobOptions defaults;
  EXPECT_EQ(options.arrangement.preset, defaults.arrangement.preset);
  EXPECT_EQ(options.arrangement.layout, defaults.arrangement.layout);
  EXPECT_EQ(options.resample.yaw, 0.0);
  EXPECT_EQ(options.resample.filter, ResampleFilter::Design);
  EXPECT_FALSE(options.output.stripMetadata);
}

}  // namespace
}  // namespace skyfold
