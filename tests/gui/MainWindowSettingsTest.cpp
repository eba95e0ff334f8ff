// The nine choices: loaded when the window is first shown, saved in their
// order when it closes, and where the settings file lives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "gui/GuiTestSupport.h"
#include "support/WindowSettingsIni.h"

namespace skyfold {
namespace {

using test::ExpectErrorBox;
using test::WindowTest;

std::string ReadText(const std::string& path) {
  const std::vector<char> bytes = test::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class SettingsTest : public WindowTest {
 protected:
  // Closes the window, writes the ini text and opens a new window on it.
  void ReopenWith(const std::string& ini) {
    CloseWindow();
    WriteText(settingsFile, ini);
    OpenWindow();
  }
};

TEST_F(SettingsTest, WithoutAFileTheDefaultsApplyAndClosingWritesTheNineKeysInOrderFirst) {
  ASSERT_FALSE(std::filesystem::exists(settingsFile));
  EXPECT_EQ(Group("RadioGroup_ExtractImageType")->itemIndex(), 1);
  EXPECT_EQ(Group("RadioGroup_ImageSize")->itemIndex(), 4);
  EXPECT_TRUE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(Box("CheckBox_OverWrite2")->isChecked());
  EXPECT_FALSE(Box("CheckBox_TopRotate")->isChecked());
  EXPECT_EQ(Group("RadioGroup_CubeSuffix")->itemIndex(), 0);
  EXPECT_FALSE(Box("CheckBox_ChangeLeftRight")->isChecked());
  EXPECT_TRUE(Box("CheckBox_SameFolder")->isChecked());
  EXPECT_EQ(Group("RadioGroup_PanoImageSize")->itemIndex(), 5);
  EXPECT_EQ(Group("RadioGroup_PanoImageType")->itemIndex(), 2);

  CloseWindow();
  // The new options at their defaults write nothing: the classic ini.
  EXPECT_EQ(ReadText(settingsFile), std::string(test::kDefaultWindowSettingsIni));
}

TEST_F(SettingsTest, ChoicesMadeInTheWindowComeBackAtTheNextStartButTheEditsDoNot) {
  ClickItem("RadioGroup_ExtractImageType", 2);
  ClickItem("RadioGroup_ImageSize", 1);
  Click("CheckBox_OverWrite");
  Click("CheckBox_TopRotate");
  ClickItem("RadioGroup_CubeSuffix", 1);
  Click("CheckBox_ChangeLeftRight");
  Click("CheckBox_SameFolder");
  QTest::keyClicks(Edit("Edit_TextureBaseName"), "tex");
  ShowPage("TabSheet2");
  ClickItem("RadioGroup_PanoImageSize", 3);
  ClickItem("RadioGroup_PanoImageType", 0);
  CloseWindow();
  EXPECT_NE(ReadText(settingsFile)
                .find("CubeImageType=2\nCubeImageSize=1\nCheckOverWrite=0\n"
                      "TopRotate=1\nCubeSuffix=1\nChangeLeftRight=1\n"
                      "SameFolder=0\nPanoImageSize=3\nPanoImageType=0\n"),
            std::string::npos);

  OpenWindow();
  EXPECT_EQ(Group("RadioGroup_ExtractImageType")->itemIndex(), 2);
  EXPECT_EQ(Group("RadioGroup_ImageSize")->itemIndex(), 1);
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_FALSE(Box("CheckBox_OverWrite2")->isChecked());
  EXPECT_TRUE(Box("CheckBox_TopRotate")->isChecked());
  EXPECT_EQ(Group("RadioGroup_CubeSuffix")->itemIndex(), 1);
  EXPECT_TRUE(Box("CheckBox_ChangeLeftRight")->isChecked());
  EXPECT_FALSE(Box("CheckBox_SameFolder")->isChecked());
  EXPECT_EQ(Group("RadioGroup_PanoImageSize")->itemIndex(), 3);
  EXPECT_EQ(Group("RadioGroup_PanoImageType")->itemIndex(), 0);
  EXPECT_TRUE(Edit("Edit_TextureBaseName")->text().isEmpty());
}

TEST_F(SettingsTest, StoredOrdinalsOutsideTheItemsSelectTheLastItem) {
  ReopenWith("[data]\nCubeImageSize=7\nPanoImageSize=-1\nCubeImageType=9\n");
  EXPECT_EQ(Group("RadioGroup_ImageSize")->itemIndex(), 6);
  EXPECT_EQ(Group("RadioGroup_PanoImageSize")->itemIndex(), 6);
  EXPECT_EQ(Group("RadioGroup_ExtractImageType")->itemIndex(), 2);
  ReopenWith("[data]\nCubeImageSize=-1\n");
  EXPECT_EQ(Group("RadioGroup_ImageSize")->itemIndex(), 6);
}

TEST_F(SettingsTest, UnreadableValuesFollowTheStoreRules) {
  // Booleans count only digits; a non-number integer reads as 0.
  ReopenWith("[data]\nCheckOverWrite=true\nTopRotate=2\nCubeImageType=abc\nSameFolder=0\n");
  EXPECT_FALSE(Box("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(Box("CheckBox_TopRotate")->isChecked());
  EXPECT_EQ(Group("RadioGroup_ExtractImageType")->itemIndex(), 0);
  EXPECT_FALSE(Box("CheckBox_SameFolder")->isChecked());
}

TEST_F(SettingsTest, AnUnwritableSettingsFileIsReportedAndTheWindowStillCloses) {
  const std::string locked = dir.file("locked");
  std::filesystem::create_directory(locked);
  form->SetSettingsFileName(locked + "/skyfold.ini");
  std::filesystem::permissions(
      locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  auto errors = std::make_shared<std::vector<std::string>>();
  ExpectErrorBox(errors);
  form->close();
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(errors->size(), 1u);
  EXPECT_EQ(errors->front(), locked + "/skyfold.ini に書き込めません");
  EXPECT_EQ(form->ForwardFiler(), nullptr);
  form.reset();
}

TEST(SettingsFile, SkyfoldIniOverridesAndOtherwiseTheFileSitsBesideTheProgramOrInTheConfigFolder) {
  qputenv("SKYFOLD_INI", "/tmp/elsewhere/settings.ini");
  EXPECT_EQ(TForm1::DefaultSettingsFileName(), "/tmp/elsewhere/settings.ini");
  qunsetenv("SKYFOLD_INI");
  const std::string name = TForm1::DefaultSettingsFileName();
  const std::string besideProgram = QCoreApplication::applicationFilePath().toStdString() + ".ini";
  EXPECT_TRUE(name == besideProgram || name.ends_with("/skyfold/skyfold.ini")) << name;
}

}  // namespace
}  // namespace skyfold
