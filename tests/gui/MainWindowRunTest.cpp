// Both conversions run end to end through the window's controls on small
// images written by the test, with the overwrite question, validation
// errors, a decoder failure, and what the window allows while a run works.
#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "filers/SkyfoldFiler.h"
#include "gui/GuiTestSupport.h"
#include "imaging/BmpIO.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

using test::AnswerFileDialog;
using test::AnswerOverwrite;
using test::ExpectErrorBox;
using test::TempDir;

const char* const kFaces[] = {"left", "front", "right", "back", "top", "bottom"};

class RunTest : public test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    pano = dir.file("pano.bmp");
    SaveBitmapAsBmp(pano, test::DrawTexturedPanorama(256));
  }

  // The forward job: the panorama chosen with its button, base name tex,
  // 64-pixel faces in the given type.
  void PrepareForward(int type = 0) {
    ShowPage("TabSheet1");
    AnswerFileDialog(pano);
    Click("SpeedButton_Image");
    QTest::keyClicks(Edit("Edit_TextureBaseName"), "tex");
    ClickItem("RadioGroup_ImageSize", 0);
    ClickItem("RadioGroup_ExtractImageType", type);
  }

  // The inverse job: the front face and the output "back" chosen with their
  // buttons (in the given type, or the one selected), 256 wide.
  void PrepareInverse(int type = -1) {
    ShowPage("TabSheet2");
    AnswerFileDialog(Face("front"));
    Click("SpeedButton_CubeImage");
    if (type >= 0) ClickItem("RadioGroup_PanoImageType", type);
    AnswerFileDialog(dir.file("back"));
    Click("SpeedButton_PanoFileName");
    ClickItem("RadioGroup_PanoImageSize", 0);
  }

  std::string Face(const char* name, const char* ext = ".bmp") const {
    return dir.file(std::string("tex_") + name + ext);
  }

  static void WriteJunk(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "not an image";
  }

  static Bitmap Load(const std::string& path) {
    Bitmap b;
    EXPECT_TRUE(LoadImageFile(b, path)) << path;
    return b;
  }

  static bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  std::string pano;
};

TEST_F(RunTest, ForwardRunWritesSixFacesAndLogsItsStepsThenReturnsToItsPage) {
  PrepareForward();
  Click("SpeedButton_Execute");

  for (const char* f : kFaces) {
    const Bitmap face = Load(Face(f));
    EXPECT_EQ(face.width(), 64) << f;
    EXPECT_EQ(face.height(), 64) << f;
  }
  const std::vector<std::string> lines = ConsoleLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "読み込んでいます。　" + pano);
  EXPECT_TRUE(Contains(lines, "正距円筒画像を立方体表面の画像へ変形します。"));
  EXPECT_TRUE(Contains(lines, "画像ファイルを書き出しています。"));
  EXPECT_TRUE(Contains(lines, "tex_left.bmp"));
  EXPECT_TRUE(Contains(lines, "tex_back.bmp...."));    // two copies, ".." after each
  EXPECT_TRUE(Contains(lines, "tex_bottom.bmp...."));  // four pieces, "." after each
  // Dots extend the line they follow instead of starting their own.
  const auto table = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("座標を取得しています。", 0) == 0;
  });
  ASSERT_NE(table, lines.end());
  EXPECT_EQ(*table, "座標を取得しています。................");
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet1"));
  EXPECT_TRUE(Child<QWidget>("SpeedButton_Execute")->isEnabled());
}

TEST_F(RunTest, InverseRunTurnsTheFacesBackIntoAPanoramaOfTheChosenWidth) {
  PrepareForward();
  Click("SpeedButton_Execute");

  PrepareInverse();  // Tiff is selected: back.tif
  Click("SpeedButton_CubeToPanoExecute");

  const std::string output = dir.file("back.tif");
  const Bitmap result = Load(output);
  EXPECT_EQ(result.width(), 256);
  EXPECT_EQ(result.height(), 128);
  const std::vector<std::string> lines = ConsoleLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(Contains(lines, "立方体表面の画像を正距円筒画像へ変形します。"));
  EXPECT_EQ(lines.back(), "出力中　" + output);
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet2"));
}

// A JPEG panorama is encoded while the warp runs; the window shows the same
// lines as for the other types, the saving line last.
TEST_F(RunTest, InverseRunToJpegWritesThePanoramaAfterTheSameLines) {
  PrepareForward();
  Click("SpeedButton_Execute");

  PrepareInverse(1);  // Jpeg: back.jpg
  Click("SpeedButton_CubeToPanoExecute");

  const std::string output = dir.file("back.jpg");
  const Bitmap result = Load(output);
  EXPECT_EQ(result.width(), 256);
  EXPECT_EQ(result.height(), 128);
  const std::vector<std::string> lines = ConsoleLines();
  // One line of dots per strip, whole.
  const auto dots = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.size() == 44 && l.find_first_not_of('.') == std::string::npos;
  });
  EXPECT_EQ(dots, 4);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "出力中　" + output);
}

TEST_F(RunTest, TheQuestionComesAfterTheConsoleIsClearedAndNoStopsTheRunWithTheBoxesUnticked) {
  PrepareForward();
  WriteJunk(Face("left"));
  Console()->AddLine("from an earlier run");
  auto question = AnswerOverwrite(TForm3::kNo, /*tick=*/true, form.get());
  Click("SpeedButton_Execute");

  ASSERT_TRUE(question->asked);
  EXPECT_TRUE(question->label.endsWith(QStringLiteral("tex_left.bmp")));
  EXPECT_EQ(question->pageWhileAsked, Child<QWidget>("TabSheet3"));
  EXPECT_EQ(question->consoleLinesWhileAsked, 0);
  EXPECT_EQ(Console()->LineCount(), 0);
  EXPECT_EQ(test::ReadBytes(Face("left")).size(), std::string("not an image").size());
  EXPECT_FALSE(std::filesystem::exists(Face("front")));
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_FALSE(Box("CheckBox_OverWrite2")->isChecked());
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet1"));

  // With the boxes unticked nothing is asked and the file is replaced.
  Click("SpeedButton_Execute");
  EXPECT_EQ(Load(Face("left")).width(), 64);
}

TEST_F(RunTest, YesReplacesTheFacesAndKeepsAskingUnlessTheBoxWasTicked) {
  PrepareForward();
  WriteJunk(Face("left"));
  auto question = AnswerOverwrite(TForm3::kYes, /*tick=*/false);
  Click("SpeedButton_Execute");
  ASSERT_TRUE(question->asked);
  EXPECT_EQ(Load(Face("left")).width(), 64);
  EXPECT_TRUE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(Box("CheckBox_OverWrite2")->isChecked());

  question = AnswerOverwrite(TForm3::kYes, /*tick=*/true);
  Click("SpeedButton_Execute");
  ASSERT_TRUE(question->asked);
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_FALSE(Box("CheckBox_OverWrite2")->isChecked());
}

TEST_F(RunTest, ClosingTheQuestionStopsTheRun) {
  PrepareForward();
  WriteJunk(Face("left"));
  auto question = AnswerOverwrite(TForm3::kClosed, /*tick=*/false);
  Click("SpeedButton_Execute");
  ASSERT_TRUE(question->asked);
  EXPECT_FALSE(std::filesystem::exists(Face("front")));
  EXPECT_TRUE(Box("CheckBox_OverWrite")->isChecked());
}

TEST_F(RunTest, OnlyTheFirstFaceIsAskedAboutWhichIsTheRightFaceWhenLeftAndRightAreExchanged) {
  PrepareForward();
  WriteJunk(Face("front"));
  WriteJunk(Face("left"));
  Click("CheckBox_ChangeLeftRight");
  // tex_right.bmp is the first name now and does not exist: no question.
  Click("SpeedButton_Execute");
  EXPECT_EQ(Load(Face("front")).width(), 64);
  EXPECT_EQ(Load(Face("left")).width(), 64);

  auto question = AnswerOverwrite(TForm3::kNo, /*tick=*/false);
  Click("SpeedButton_Execute");
  ASSERT_TRUE(question->asked);
  EXPECT_TRUE(question->label.endsWith(QStringLiteral("tex_right.bmp")));
}

TEST_F(RunTest, InverseRunAsksAboutTheOutputPanoramaBeforeAnyCheck) {
  ShowPage("TabSheet2");
  const std::string output = dir.file("out.tif");
  WriteJunk(output);
  Edit("Edit_PanoFileName")->setText(QString::fromStdString(output));
  auto question = AnswerOverwrite(TForm3::kNo, /*tick=*/false);
  Click("SpeedButton_CubeToPanoExecute");  // no face chosen: the question still comes first
  ASSERT_TRUE(question->asked);
  EXPECT_TRUE(question->label.endsWith(QStringLiteral("out.tif")));
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet2"));
}

TEST_F(RunTest, AFailedCheckShowsOneErrorBoxAndWritesNothing) {
  PrepareForward();
  Edit("Edit_TextureBaseName")->clear();
  auto errors = std::make_shared<std::vector<std::string>>();
  ExpectErrorBox(errors);
  Click("SpeedButton_Execute");
  ASSERT_EQ(errors->size(), 1u);
  EXPECT_EQ(errors->front(), "出力画像の基本名：が指定されていません。");
  EXPECT_EQ(Console()->LineCount(), 0);
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet1"));
}

TEST_F(RunTest, ACorruptPanoramaShowsTheDecoderErrorAndTheWindowStaysUsable) {
  PrepareForward();
  const std::string corrupt = dir.file("broken.jpg");
  std::ofstream(corrupt, std::ios::binary) << "\xFF\xD8\xFF\xE0 this is no jpeg";
  Edit("Edit_ImageFileName")->setText(QString::fromStdString(corrupt));
  auto errors = std::make_shared<std::vector<std::string>>();
  ExpectErrorBox(errors);
  Click("SpeedButton_Execute");
  ASSERT_EQ(errors->size(), 1u);
  EXPECT_FALSE(errors->front().empty());
  EXPECT_EQ(CurrentPage(), Child<QWidget>("TabSheet1"));
  EXPECT_FALSE(form->IsRunning());
  EXPECT_TRUE(Child<QWidget>("SpeedButton_Execute")->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(Face("left")));

  // The next run starts on a cleared console and succeeds.
  Edit("Edit_ImageFileName")->setText(QString::fromStdString(pano));
  Click("SpeedButton_Execute");
  EXPECT_EQ(ConsoleLines().front(), "読み込んでいます。　" + pano);
  EXPECT_EQ(Load(Face("bottom")).width(), 64);
}

TEST_F(RunTest, WhileARunWorksNoSecondRunStartsAndACloseWaitsForTheEnd) {
  PrepareForward();
  bool checked = false;
  QTimer::singleShot(0, form.get(), [&] {
    checked = true;
    EXPECT_TRUE(form->IsRunning());
    EXPECT_FALSE(Child<QWidget>("SpeedButton_Execute")->isEnabled());
    EXPECT_FALSE(Child<QWidget>("SpeedButton_CubeToPanoExecute")->isEnabled());
    const int lines = Console()->LineCount();
    form->SpeedButton_ExecuteClick();  // refused: the console is not cleared
    EXPECT_EQ(Console()->LineCount(), lines);
    form->close();
    EXPECT_TRUE(form->isVisible());
  });
  Click("SpeedButton_Execute");
  EXPECT_TRUE(checked);
  EXPECT_FALSE(form->isVisible());  // closed once the run had ended
  for (const char* f : kFaces) EXPECT_EQ(Load(Face(f)).width(), 64) << f;
  EXPECT_TRUE(std::filesystem::exists(settingsFile));
}

TEST_F(RunTest, ProgressDotsGrowTheLastLineAndTheEndStaysInView) {
  TSkyfoldFiler* filer = form->ForwardFiler();
  ShowPage("TabSheet3");
  filer->DoProgress("処理中 ", spAppend);
  filer->DoProgress(".", spUpdate);
  filer->DoProgress("..", spUpdate);
  ASSERT_EQ(Console()->LineCount(), 1);
  EXPECT_EQ(Console()->GetLine(0), "処理中 ...");
  filer->DoProgress("", spAppend);
  EXPECT_EQ(Console()->LineCount(), 2);

  for (int i = 0; i < 100; ++i) filer->DoProgress("line " + std::to_string(i), spAppend);
  TConsoleView* console = Console();
  QTextCursor last(console->document()->findBlockByNumber(console->LineCount() - 1));
  const QRect where = console->cursorRect(last);
  EXPECT_GE(where.top(), 0);
  EXPECT_LE(where.bottom(), console->viewport()->height());
  EXPECT_GT(console->TopRow(), 0);
}

}  // namespace
}  // namespace skyfold
