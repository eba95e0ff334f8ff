// The filer base: properties and their notification, output names,
// validation messages and their order, size table, progress and paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "filers/SimFilers.h"
#include "imaging/ShowErrorMessage.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

using TempFolder = test::TempDir;

// Helpers over the shared temporary folder.
std::string FolderOf(const test::TempDir& dir) {
  return dir.path() + "/";
}  // as the window supplies it
std::string Touch(const test::TempDir& dir, const std::string& name) {
  std::ofstream(dir.file(name)) << "x";
  return dir.file(name);
}

// Records every message the filer shows.
class MessageLog {
 public:
  MessageLog() : sink_([this](const std::string& text) { texts.push_back(text); }) {}
  std::vector<std::string> texts;

 private:
  ScopedErrorMessageSink sink_;
};

std::vector<std::string> NamesFor(TSceneType type, TCubeSuffix rule, TExtractImageType ext) {
  TSimFiler filer;
  filer.SetTextureBasename("tex");
  filer.SetSceneType(type);
  filer.SetCubeSuffix(rule);
  filer.SetExtractImageType(ext);
  filer.BuildFileNames();
  return filer.FileNames;
}

using Names = std::vector<std::string>;

TEST(FilerConstruction, StartsWithNoNamesAndBothHolders) {
  TSimFiler filer;
  EXPECT_TRUE(filer.FileNames.empty());
  EXPECT_EQ(filer.GetFirstFileName(), "");
  EXPECT_EQ(filer.OutputSize, 0);
  EXPECT_EQ(filer.GetCubeSuffix(), csLeft);
  EXPECT_EQ(filer.GetExtractImageType(), eiBitmap);
  EXPECT_EQ(filer.GetImageSizeMode(), ismSmall);
  EXPECT_EQ(filer.GetSceneFormat(), sfFMS);
  EXPECT_EQ(filer.GetSceneType(), stCube);
  EXPECT_EQ(filer.UpdateCount, 0);
  ASSERT_NE(filer.FMSData(), nullptr);
  ASSERT_NE(filer.RCPData(), nullptr);
  // Holders are created fresh, not with their defaults.
  EXPECT_EQ(filer.FMSData()->GetAreaRadius(), 0);
}

TEST(FilerNames, CubeNamesFollowTheFaceOrderUnderBothRules) {
  EXPECT_EQ(NamesFor(stCube, csLeft, eiTiff),
            (Names{"tex_left.tif", "tex_front.tif", "tex_right.tif", "tex_back.tif", "tex_top.tif",
                   "tex_bottom.tif"}));
  EXPECT_EQ(NamesFor(stCube, csLeft, eiBitmap),
            (Names{"tex_left.bmp", "tex_front.bmp", "tex_right.bmp", "tex_back.bmp", "tex_top.bmp",
                   "tex_bottom.bmp"}));
  EXPECT_EQ(NamesFor(stCube, csZero, eiJpeg),
            (Names{"tex_3.jpg", "tex_0.jpg", "tex_1.jpg", "tex_2.jpg", "tex_4.jpg", "tex_5.jpg"}));
  EXPECT_EQ(NamesFor(stCube, csZero, eiTiff),
            (Names{"tex_3.tif", "tex_0.tif", "tex_1.tif", "tex_2.tif", "tex_4.tif", "tex_5.tif"}));
  EXPECT_EQ(NamesFor(stCube, csZero, eiBitmap).front(), "tex_3.bmp");
  EXPECT_EQ(NamesFor(stCube, csLeft, eiJpeg).back(), "tex_bottom.jpg");
}

TEST(FilerNames, SphereNamesAreTwentyPiecesInThreeGroups) {
  EXPECT_EQ(NamesFor(stSphere, csLeft, eiJpeg),
            (Names{"tex_11.jpg", "tex_12.jpg", "tex_13.jpg", "tex_14.jpg", "tex_21.jpg",
                   "tex_22.jpg", "tex_23.jpg", "tex_24.jpg", "tex_25.jpg", "tex_26.jpg",
                   "tex_27.jpg", "tex_28.jpg", "tex_31.jpg", "tex_32.jpg", "tex_33.jpg",
                   "tex_34.jpg", "tex_35.jpg", "tex_36.jpg", "tex_37.jpg", "tex_38.jpg"}));
  // The naming rule plays no part in sphere names.
  EXPECT_EQ(NamesFor(stSphere, csZero, eiJpeg), NamesFor(stSphere, csLeft, eiJpeg));
}

TEST(FilerNames, OutOfRangeOrdinalsAddNoNamesOrNoExtension) {
  EXPECT_TRUE(NamesFor(stCube, static_cast<TCubeSuffix>(2), eiBitmap).empty());
  EXPECT_TRUE(NamesFor(static_cast<TSceneType>(2), csLeft, eiBitmap).empty());
  EXPECT_EQ(NamesFor(stCube, csLeft, static_cast<TExtractImageType>(eiTiffFloat + 1)),
            (Names{"tex_left", "tex_front", "tex_right", "tex_back", "tex_top", "tex_bottom"}));
  EXPECT_STREQ(CubeFaceSuffix(static_cast<TCubeSuffix>(7), 0), "");
  EXPECT_STREQ(CubeFaceSuffix(csLeft, 6), "");
  EXPECT_STREQ(CubeFaceSuffix(csZero, -1), "");
  EXPECT_STREQ(ExtractImageTypeExt(static_cast<TExtractImageType>(255)), "");
}

TEST(FilerNames, RebuildingReplacesThePreviousListAndFirstNameFollows) {
  TSimFiler filer;
  filer.SetTextureBasename("a");
  filer.SetSceneType(stSphere);
  filer.BuildFileNames();
  EXPECT_EQ(filer.GetFirstFileName(), "a_11.bmp");
  filer.SetSceneType(stCube);
  filer.SetCubeSuffix(csZero);
  filer.BuildFileNames();
  EXPECT_EQ(filer.FileNames.size(), 6u);
  EXPECT_EQ(filer.GetFirstFileName(), "a_3.bmp");
  filer.SetCubeSuffix(static_cast<TCubeSuffix>(9));
  filer.BuildFileNames();
  EXPECT_EQ(filer.GetFirstFileName(), "");
}

TEST(FilerProperties, SettersNotifyOnlyWhenTheValueChanges) {
  TSimFiler filer;
  int changes = 0;
  TNotifyPersistent* sender = nullptr;
  filer.OnChange = [&](TNotifyPersistent* s) {
    ++changes;
    sender = s;
  };

  filer.SetCubeSuffix(csLeft);
  filer.SetExtractImageType(eiBitmap);
  filer.SetImageFileName("");
  filer.SetImageSizeMode(ismSmall);
  filer.SetSceneFilename("");
  filer.SetSceneFormat(sfFMS);
  filer.SetSceneType(stCube);
  filer.SetTextureBasename("");
  EXPECT_EQ(changes, 0);

  filer.SetCubeSuffix(csZero);
  filer.SetExtractImageType(eiTiff);
  filer.SetImageFileName("pano.jpg");
  filer.SetImageSizeMode(ismLarge);
  filer.SetSceneFilename("scene.fms");
  filer.SetSceneFormat(sfRCP);
  filer.SetSceneType(stSphere);
  filer.SetTextureBasename("tex");
  EXPECT_EQ(changes, 8);
  EXPECT_EQ(sender, &filer);
  EXPECT_EQ(filer.GetCubeSuffix(), csZero);
  EXPECT_EQ(filer.GetExtractImageType(), eiTiff);
  EXPECT_EQ(filer.GetImageFileName(), "pano.jpg");
  EXPECT_EQ(filer.GetImageSizeMode(), ismLarge);
  EXPECT_EQ(filer.GetSceneFilename(), "scene.fms");
  EXPECT_EQ(filer.GetSceneFormat(), sfRCP);
  EXPECT_EQ(filer.GetSceneType(), stSphere);
  EXPECT_EQ(filer.GetTextureBasename(), "tex");

  filer.SetImageFileName("pano.jpg");
  filer.SetTextureBasename("tex");
  EXPECT_EQ(changes, 8);
  // Strings compare exactly: a change of case is a change.
  filer.SetImageFileName("PANO.jpg");
  filer.SetTextureBasename("Tex");
  EXPECT_EQ(changes, 10);
}

TEST(FilerProperties, AnUpdateHoldsNotificationsBackUntilItEnds) {
  TSimFiler filer;
  int changes = 0;
  filer.OnChange = [&](TNotifyPersistent*) { ++changes; };
  filer.BeginUpdate();
  filer.SetTextureBasename("tex");
  filer.SetSceneType(stSphere);
  EXPECT_EQ(changes, 0);
  filer.EndUpdate();
  EXPECT_EQ(changes, 1);
  filer.ChangedBy(&filer);
  EXPECT_EQ(changes, 1);
  filer.ChangedBy(filer.FMSData());
  EXPECT_EQ(changes, 2);
}

TEST(FilerSizes, BaseSizeTableBySceneTypeAndSizeMode) {
  struct Case {
    TSceneType type;
    TImageSizeMode mode;
    int size;
  };
  for (const Case& c : {Case{stCube, ismSmall, 1024}, Case{stCube, ismNormal, 2048},
                        Case{stCube, ismLarge, 4096}, Case{stSphere, ismSmall, 512},
                        Case{stSphere, ismNormal, 1024}, Case{stSphere, ismLarge, 2048}}) {
    TSimFiler filer;
    filer.SetSceneType(c.type);
    filer.SetImageSizeMode(c.mode);
    filer.PrepareImageSize();
    EXPECT_EQ(filer.OutputSize, c.size) << int(c.type) << "/" << int(c.mode);
  }

  TSimFiler filer;
  filer.OutputSize = 77;
  filer.SetImageSizeMode(static_cast<TImageSizeMode>(3));
  filer.PrepareImageSize();
  EXPECT_EQ(filer.OutputSize, 77);
  filer.SetImageSizeMode(ismSmall);
  filer.SetSceneType(static_cast<TSceneType>(2));
  filer.PrepareImageSize();
  EXPECT_EQ(filer.OutputSize, 77);
}

// A fully valid job in a temporary folder; each test breaks one input.
class FilerValidation : public ::testing::Test {
 protected:
  void SetUp() override {
    filer.SetImageFileName(Touch(temp, "pano.bmp"));
    filer.SetSceneFilename(FolderOf(temp) + "scene.fms");
    filer.SetTextureBasename("tex");
  }
  TempFolder temp;
  TSimFiler filer;
  MessageLog log;
};

TEST_F(FilerValidation, AValidJobPassesWithoutAMessage) {
  EXPECT_TRUE(filer.CheckParameters());
  EXPECT_TRUE(log.texts.empty());
}

TEST_F(FilerValidation, SourceChecksComeFirstAndShowOneMessage) {
  filer.SetSceneFilename("");  // would fail too, later
  filer.SetImageFileName("");
  EXPECT_FALSE(filer.CheckParameters());
  EXPECT_EQ(log.texts, (Names{"画像ファイル名：が指定されていません。"}));

  log.texts.clear();
  filer.SetImageFileName(FolderOf(temp) + "missing.bmp");
  EXPECT_FALSE(filer.CheckParameters());
  EXPECT_EQ(log.texts, (Names{"画像ファイル名で指定されたファイルがありません。"}));

  // A folder is not a source file, and is not called missing either.
  log.texts.clear();
  filer.SetImageFileName(FolderOf(temp));
  EXPECT_FALSE(filer.CheckParameters());
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_NE(log.texts[0].find("はフォルダーで、ファイルではありません。"), std::string::npos);
}

TEST_F(FilerValidation, SceneChecksRunInOrderAfterTheSource) {
  filer.SetTextureBasename("");  // would fail too, later
  filer.SetSceneFilename("");
  EXPECT_FALSE(filer.CheckParameters());
  EXPECT_EQ(log.texts, (Names{"シーンファイル名：が指定されていません。"}));

  const std::string missingFolder = "シーンフィアル名：で指定されたフォルダがありません。";
  log.texts.clear();
  filer.SetSceneFilename(FolderOf(temp) + "no-such-folder/scene.fms");
  EXPECT_FALSE(filer.CheckParameters());
  EXPECT_EQ(log.texts, (Names{missingFolder}));

  // A bare name has no folder part at all.
  log.texts.clear();
  filer.SetSceneFilename("scene.fms");
  EXPECT_FALSE(filer.CheckSceneParameters());
  EXPECT_EQ(log.texts, (Names{missingFolder}));

  log.texts.clear();
  filer.SetSceneFilename(FolderOf(temp) + "scene.fms");
  EXPECT_FALSE(filer.CheckParameters());
  EXPECT_EQ(log.texts, (Names{"出力画像の基本名：が指定されていません。"}));

  // The scene file itself need not exist, only its folder.
  log.texts.clear();
  filer.SetTextureBasename("tex");
  EXPECT_TRUE(filer.CheckSceneParameters());
  EXPECT_TRUE(log.texts.empty());
}

// A filer whose output folder comes from elsewhere, as a facade's does.
class FolderFiler : public TSimFiler {
 public:
  std::string folder;
  std::string GetSceneFolder() const override { return folder; }
};

TEST(FilerPaths, SceneFolderIsTheFolderPartOfTheSceneFile) {
  TSimFiler filer;
  EXPECT_EQ(filer.GetSceneFolder(), "");
  filer.SetSceneFilename("/data/scenes/a.fms");
  EXPECT_EQ(filer.GetSceneFolder(), "/data/scenes/");
  EXPECT_EQ(filer.OutputPath("tex_left.bmp"), "/data/scenes/tex_left.bmp");
  filer.SetSceneFilename("/data/scenes/");
  EXPECT_EQ(filer.GetSceneFolder(), "/data/scenes/");
}

TEST(FilerPaths, OutputPathInsertsOneDelimiterOnlyWhenMissing) {
  FolderFiler filer;
  filer.folder = "/out";
  EXPECT_EQ(filer.OutputPath("tex_top.jpg"), "/out/tex_top.jpg");
  filer.folder = "/out/";
  EXPECT_EQ(filer.OutputPath("tex_top.jpg"), "/out/tex_top.jpg");
}

TEST(FilerPaths, SceneChecksAskTheOverriddenFolder) {
  TempFolder temp;
  MessageLog log;
  FolderFiler filer;
  filer.SetSceneFilename("/no/such/place/scene.fms");
  filer.SetTextureBasename("tex");
  filer.folder = FolderOf(temp);
  EXPECT_TRUE(filer.CheckSceneParameters());
  filer.folder = FolderOf(temp) + "gone";
  EXPECT_FALSE(filer.CheckSceneParameters());
  EXPECT_EQ(log.texts.size(), 1u);
}

TEST(FilerProgress, DoProgressReachesTheHandlerWithSenderTextAndMode) {
  TSimFiler filer;
  filer.DoProgress("nobody listens", spAppend);  // no handler: nothing happens

  struct Line {
    TSimFiler* sender;
    std::string text;
    TSimProgressMode mode;
  };
  std::vector<Line> lines;
  filer.OnProgress = [&](TSimFiler* s, const std::string& t, TSimProgressMode m) {
    lines.push_back({s, t, m});
  };
  filer.DoProgress("処理中 ", spAppend);
  filer.DoProgress(".", spUpdate);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].sender, &filer);
  EXPECT_EQ(lines[0].text, "処理中 ");
  EXPECT_EQ(lines[0].mode, spAppend);
  EXPECT_EQ(lines[1].text, ".");
  EXPECT_EQ(lines[1].mode, spUpdate);
}

}  // namespace
}  // namespace skyfold
