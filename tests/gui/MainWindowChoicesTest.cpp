// Choosing inputs in the window: the open and save dialogs, the folder
// picker, the same-folder rule, the linked overwrite boxes and the rule that
// keeps the output name's extension in step with the selected type.
#include <gtest/gtest.h>

#include <QDir>

#include "gui/GuiTestSupport.h"

namespace skyfold {
namespace {

using test::AnswerFileDialog;
using test::CancelNextDialog;
using test::WindowTest;

QString Q(const std::string& s) { return QString::fromStdString(s); }

TEST_F(WindowTest, ChoosingThePanoramaFillsTheFolderOnlyWhileSameFolderIsTicked) {
  const std::string pano = dir.file("pano.bmp");
  QueueDialogAnswer([&](QDialog& d) {
    auto& open = static_cast<QFileDialog&>(d);
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_TRUE(open.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(open.nameFilters(),
              QStringList({QStringLiteral("画像ファイル (*.bmp *.tif *.tiff *.jpg *.jpeg)"),
                           QStringLiteral("すべてのファイル (*)")}));
    open.selectFile(Q(pano));
    return static_cast<int>(QDialog::Accepted);
  });
  Click("SpeedButton_Image");
  EXPECT_EQ(Edit("Edit_ImageFileName")->text(), Q(pano));
  EXPECT_EQ(Edit("Edit_DataFolder")->text(), Q(dir.path() + "/"));

  // Unticked: a new panorama leaves the typed folder alone.
  Click("CheckBox_SameFolder");
  EXPECT_TRUE(Edit("Edit_DataFolder")->text().isEmpty());
  QTest::keyClicks(Edit("Edit_DataFolder"), "/elsewhere/");
  AnswerFileDialog(dir.file("other.jpg"));
  Click("SpeedButton_Image");
  EXPECT_EQ(Edit("Edit_ImageFileName")->text(), Q(dir.file("other.jpg")));
  EXPECT_EQ(Edit("Edit_DataFolder")->text(), QStringLiteral("/elsewhere/"));

  // Cancel changes nothing.
  CancelNextDialog();
  Click("SpeedButton_Image");
  EXPECT_EQ(Edit("Edit_ImageFileName")->text(), Q(dir.file("other.jpg")));
}

TEST_F(WindowTest, SameFolderTickedTakesTheImageFolderAndUntickedEmptiesEvenATypedFolder) {
  QCheckBox* same = Box("CheckBox_SameFolder");
  QLineEdit* folder = Edit("Edit_DataFolder");
  Click("CheckBox_SameFolder");
  QTest::keyClicks(folder, "/typed/");
  Click("CheckBox_SameFolder");  // ticked, image name empty
  EXPECT_TRUE(same->isChecked());
  EXPECT_TRUE(folder->text().isEmpty());

  Edit("Edit_ImageFileName")->setText(QStringLiteral("/data/パノラマ/pano.jpg"));
  Click("CheckBox_SameFolder");
  QTest::keyClicks(folder, "/typed/");
  Click("CheckBox_SameFolder");
  EXPECT_EQ(folder->text(), QStringLiteral("/data/パノラマ/"));
  EXPECT_FALSE(folder->isReadOnly());
  Click("CheckBox_SameFolder");
  EXPECT_TRUE(folder->text().isEmpty());
}

TEST_F(WindowTest, ABareImageNameTakesTheWorkingFolderRatherThanTheRoot) {
  Edit("Edit_ImageFileName")->setText(QStringLiteral("pano.jpg"));
  Click("CheckBox_SameFolder");
  Click("CheckBox_SameFolder");
  EXPECT_EQ(Edit("Edit_DataFolder")->text().toStdString(), QDir::currentPath().toStdString() + "/");
}

TEST_F(WindowTest, TheTwoOverwriteBoxesAreOneSetting) {
  Click("CheckBox_OverWrite");
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_FALSE(Box("CheckBox_OverWrite2")->isChecked());
  ShowPage("TabSheet2");
  Click("CheckBox_OverWrite2");
  EXPECT_TRUE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(Box("CheckBox_OverWrite2")->isChecked());
}

TEST_F(WindowTest, ChosenFolderGetsATrailingDelimiterAndTheNextBrowseStartsThere) {
  const std::string out = dir.file("out");
  QDir().mkpath(Q(out));
  AnswerFileDialog(out);
  Click("SpeedButton_Folder");
  EXPECT_EQ(Edit("Edit_DataFolder")->text(), Q(out + "/"));
  EXPECT_TRUE(Box("CheckBox_SameFolder")->isChecked());

  QueueDialogAnswer([&](QDialog& d) {
    EXPECT_EQ(static_cast<QFileDialog&>(d).selectedFiles().value(0), Q(out));
    return static_cast<int>(QDialog::Rejected);
  });
  Click("SpeedButton_Folder");
  EXPECT_EQ(Edit("Edit_DataFolder")->text(), Q(out + "/"));

  AnswerFileDialog("/");
  Click("SpeedButton_Folder");
  EXPECT_EQ(Edit("Edit_DataFolder")->text(), QStringLiteral("/"));
}

TEST_F(WindowTest, CubeImageButtonSharesTheOpenDialogAndOffersItsLastFile) {
  ShowPage("TabSheet2");
  const std::string face = dir.file("tex_front.bmp");
  AnswerFileDialog(face);
  Click("SpeedButton_CubeImage");
  EXPECT_EQ(Edit("Edit_CubeImageFilename")->text(), Q(face));
  EXPECT_TRUE(Edit("Edit_PanoFileName")->text().isEmpty());

  ShowPage("TabSheet1");
  QueueDialogAnswer([&](QDialog& d) {
    EXPECT_EQ(static_cast<QFileDialog&>(d).selectedFiles().value(0), Q(face));
    return static_cast<int>(QDialog::Rejected);
  });
  Click("SpeedButton_Image");
}

TEST_F(WindowTest, SaveDialogOpensOnTheSelectedTypeAndTheNameGetsItsExtension) {
  ShowPage("TabSheet2");
  Click("CheckBox_OverWrite2");  // the dialog's own prompt follows the boxes
  QueueDialogAnswer([&](QDialog& d) {
    auto& save = static_cast<QFileDialog&>(d);
    EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save.nameFilters(), QStringList({"*.bmp", "*.jpg", "*.tif"}));
    EXPECT_EQ(save.selectedNameFilter(), QStringLiteral("*.tif"));  // Tiff selected
    EXPECT_TRUE(save.testOption(QFileDialog::DontConfirmOverwrite));
    save.selectFile(Q(dir.file("pano")));
    return static_cast<int>(QDialog::Accepted);
  });
  Click("SpeedButton_PanoFileName");
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), Q(dir.file("pano.tif")));

  Click("CheckBox_OverWrite2");
  QueueDialogAnswer([&](QDialog& d) {
    auto& save = static_cast<QFileDialog&>(d);
    EXPECT_FALSE(save.testOption(QFileDialog::DontConfirmOverwrite));
    // It offers the name last chosen in it, not the edit's text.
    EXPECT_EQ(save.selectedFiles().value(0), Q(dir.file("pano")));
    emit save.filterSelected(QStringLiteral("*.jpg"));  // the user picks another type
    save.selectFile(Q(dir.file("pano.png")));
    return static_cast<int>(QDialog::Accepted);
  });
  Click("SpeedButton_PanoFileName");
  EXPECT_EQ(Group("RadioGroup_PanoImageType")->itemIndex(), 1);
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), Q(dir.file("pano.jpg")));
}

TEST_F(WindowTest, ATypeChangedInTheSaveDialogStaysWhenTheDialogIsCancelled) {
  ShowPage("TabSheet2");
  Edit("Edit_PanoFileName")->setText(QStringLiteral("/out/pano.tif"));
  QueueDialogAnswer([&](QDialog& d) {
    auto& save = static_cast<QFileDialog&>(d);
    emit save.filterSelected(QStringLiteral("*.bmp"));
    return static_cast<int>(QDialog::Rejected);
  });
  Click("SpeedButton_PanoFileName");
  EXPECT_EQ(Group("RadioGroup_PanoImageType")->itemIndex(), 0);
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), QStringLiteral("/out/pano.bmp"));
}

TEST_F(WindowTest, PanoTypeButtonsReplaceOrAppendTheExtensionAndLeaveAnEmptyNameAlone) {
  ShowPage("TabSheet2");
  ClickItem("RadioGroup_PanoImageType", 0);
  EXPECT_TRUE(Edit("Edit_PanoFileName")->text().isEmpty());

  QTest::keyClicks(Edit("Edit_PanoFileName"), "/a.b/pano");
  ClickItem("RadioGroup_PanoImageType", 1);
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), QStringLiteral("/a.b/pano.jpg"));
  ClickItem("RadioGroup_PanoImageType", 2);
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), QStringLiteral("/a.b/pano.tif"));
  ClickItem("RadioGroup_PanoImageType", 0);
  EXPECT_EQ(Edit("Edit_PanoFileName")->text(), QStringLiteral("/a.b/pano.bmp"));
}

}  // namespace
}  // namespace skyfold
