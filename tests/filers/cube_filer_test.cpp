// TCubeFiler and its facade TSkyfoldFiler: validation order and messages,
// face edge, names with the left/right exchange, the top face's half turn,
// and the facade's live reading of its controls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filers/CubeFiler.h"
#include "filers/SkyfoldFiler.h"
#include "imaging/BmpIO.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "support/PanoramaTestImages.h"
#include "support/PlainControls.h"

namespace skyfold {
namespace {

using test::TempDir;

struct MessageLog {
  std::vector<std::string> texts;
  ScopedErrorMessageSink sink{[this](const std::string& t) { texts.push_back(t); }};
};

TEST(CubeFilerValidation, ChecksSourceThenFolderThenBaseName) {
  TempDir dir;
  const std::string pano = dir.file("pano.bmp");
  SaveBitmapAsBmp(pano, Bitmap(16, 8));
  TCubeFiler filer;
  MessageLog log;

  auto check = [&](const char* expected) {
    log.texts.clear();
    const bool ok = filer.CheckParameters();
    if (expected == nullptr) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(log.texts.empty());
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(log.texts, std::vector<std::string>{expected});
    }
  };
  check("画像ファイル名：が指定されていません。");
  filer.SetImageFileName(dir.file("missing.bmp"));
  check("画像ファイル名で指定されたファイルがありません。");
  filer.SetImageFileName(pano);
  check("出力先が指定されていません。");
  // A missing folder is reported before the base name is looked at.
  filer.SetSceneFilename(dir.file("nowhere") + "/");
  check("出力先フォルダがありません。");
  filer.SetSceneFilename(dir.path() + "/");
  check("出力画像の基本名：が指定されていません。");
  filer.SetTextureBasename("pano");
  check(nullptr);
}

TEST(CubeFilerSize, EdgeFollowsTheSizeOrdinal) {
  TCubeFiler filer;
  const int edges[7] = {64, 128, 256, 512, 1024, 2048, 4096};
  for (int i = 0; i <= is4096; ++i) {
    filer.SetImageSize(static_cast<TImageSize>(i));
    filer.PrepareImageSize();
    EXPECT_EQ(filer.OutputSize, edges[i]);
  }
  filer.SetImageSize(static_cast<TImageSize>(7));
  filer.PrepareImageSize();
  EXPECT_EQ(filer.OutputSize, 4096);  // unchanged
}

TEST(CubeFilerNames, LeftAndRightNamesExchange) {
  TCubeFiler filer;
  filer.SetTextureBasename("pano");
  filer.SetExtractImageType(eiBitmap);
  filer.SetChangeLeftRight(true);
  filer.BuildFileNames();
  EXPECT_EQ(filer.FileNames,
            (std::vector<std::string>{"pano_right.bmp", "pano_front.bmp", "pano_left.bmp",
                                      "pano_back.bmp", "pano_top.bmp", "pano_bottom.bmp"}));
  EXPECT_EQ(filer.GetFirstFileName(), "pano_right.bmp");

  filer.SetCubeSuffix(csZero);
  filer.SetExtractImageType(eiJpeg);
  filer.BuildFileNames();
  EXPECT_EQ(filer.FileNames, (std::vector<std::string>{"pano_1.jpg", "pano_0.jpg", "pano_3.jpg",
                                                       "pano_2.jpg", "pano_4.jpg", "pano_5.jpg"}));
  filer.SetChangeLeftRight(false);
  filer.BuildFileNames();
  EXPECT_EQ(filer.FileNames[0], "pano_3.jpg");
}

TEST(CubeFilerNotifications, CubeOptionsDoNotNotify) {
  TCubeFiler filer;
  int changes = 0;
  filer.OnChange = [&](TNotifyPersistent*) { ++changes; };
  filer.SetImageSize(is2048);
  filer.SetTopRotate(true);
  filer.SetChangeLeftRight(true);
  EXPECT_EQ(changes, 0);
  filer.SetTextureBasename("x");  // base properties still do
  EXPECT_EQ(changes, 1);
}

// Runs the window's forward sequence on a filer and reads the faces back.
std::vector<Bitmap> RunForward(TCubeFiler& filer, const TempDir& dir) {
  filer.BuildFileNames();
  EXPECT_TRUE(filer.CheckParameters());
  Bitmap bitmap;
  filer.PrepareImageSize();
  EXPECT_TRUE(filer.LoadSourceImage(bitmap));
  filer.WarpImage(bitmap);
  filer.SaveCubeFaces(bitmap);
  std::vector<Bitmap> faces(6);
  for (int i = 0; i < 6; ++i) ReadBmpFile(dir.file(filer.FileNames[i]), faces[i]);
  return faces;
}

class CubeFilerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    pano_ = dir_.file("pano.bmp");
    SaveBitmapAsBmp(pano_, test::DrawTexturedPanorama(128));
  }
  void Prepare(TCubeFiler& filer) {
    filer.SetImageFileName(pano_);
    filer.SetSceneFilename(dir_.path() + "/");
    filer.SetTextureBasename("pano");
    filer.SetExtractImageType(eiBitmap);
    filer.SetImageSize(is64);
  }
  TempDir dir_;
  std::string pano_;
};

TEST_F(CubeFilerRun, LeftViewIsWrittenUnderTheRightNameWhenExchanged) {
  TCubeFiler plain;
  Prepare(plain);
  const std::vector<Bitmap> normal = RunForward(plain, dir_);
  TCubeFiler swapped;
  Prepare(swapped);
  swapped.SetChangeLeftRight(true);
  const std::vector<Bitmap> exchanged = RunForward(swapped, dir_);
  // FileNames[0] is now pano_right.bmp and holds the left view.
  EXPECT_EQ(swapped.FileNames[0], "pano_right.bmp");
  Bitmap rightFile;
  ReadBmpFile(dir_.file("pano_right.bmp"), rightFile);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      ASSERT_EQ(rightFile.pixel(x, y), normal[fiLeft].pixel(x, y));
      ASSERT_EQ(exchanged[fiRight].pixel(x, y), normal[fiRight].pixel(x, y));
    }
  }
}

TEST_F(CubeFilerRun, TopRotateTurnsOnlyTheTopFace) {
  TCubeFiler plain;
  Prepare(plain);
  const std::vector<Bitmap> normal = RunForward(plain, dir_);
  TCubeFiler turned;
  Prepare(turned);
  turned.SetTopRotate(true);
  const std::vector<Bitmap> rotated = RunForward(turned, dir_);
  for (int f = 0; f < 6; ++f) {
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        const int sx = f == fiTop ? 63 - x : x;
        const int sy = f == fiTop ? 63 - y : y;
        ASSERT_EQ(rotated[f].pixel(x, y), normal[f].pixel(sx, sy)) << f;
      }
    }
  }
  // Toggling it back gives the first top face again.
  turned.SetTopRotate(false);
  const std::vector<Bitmap> again = RunForward(turned, dir_);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) ASSERT_EQ(again[fiTop].pixel(x, y), normal[fiTop].pixel(x, y));
  }
}

struct BoundFacade {
  test::PlainEdit folder, image, base;
  test::PlainRadioGroup suffix{2}, type{3}, size{7};
  test::PlainCheckBox top, swap;
  TSkyfoldFiler filer;
  BoundFacade() {
    filer.DataFolderEdit = &folder;
    filer.ImageFileNameEdit = &image;
    filer.TextureBasenameEdit = &base;
    filer.CubeSuffixGroup = &suffix;
    filer.ExtractImageTypeGroup = &type;
    filer.ImageSizeGroup = &size;
    filer.TopRotateCheckBox = &top;
    filer.ChangeLeftRightCheckBox = &swap;
  }
};

TEST(SkyfoldFiler, GettersReadTheControlsAtEveryCall) {
  BoundFacade f;
  f.image.text = "a.jpg";
  f.base.text = "b";
  f.folder.text = "/out";
  f.suffix.itemIndex = csZero;
  f.type.itemIndex = eiTiff;
  f.size.itemIndex = is256;
  f.top.checked = true;
  f.swap.checked = true;
  EXPECT_EQ(f.filer.GetImageFileName(), "a.jpg");
  EXPECT_EQ(f.filer.GetTextureBasename(), "b");
  EXPECT_EQ(f.filer.GetSceneFolder(), "/out");
  EXPECT_EQ(f.filer.GetCubeSuffix(), csZero);
  EXPECT_EQ(f.filer.GetExtractImageType(), eiTiff);
  EXPECT_EQ(f.filer.GetImageSize(), is256);
  EXPECT_TRUE(f.filer.GetTopRotate());
  EXPECT_TRUE(f.filer.GetChangeLeftRight());
  // The run uses whatever the controls show when it reads them.
  f.filer.BuildFileNames();
  EXPECT_EQ(f.filer.FileNames[0], "b_1.tif");
  EXPECT_EQ(f.filer.OutputPath(f.filer.FileNames[0]), "/out/b_1.tif");
  f.size.itemIndex = is4096;
  f.filer.PrepareImageSize();
  EXPECT_EQ(f.filer.OutputSize, 4096);
}

TEST(SkyfoldFiler, SettersSetTheControlThenTheStoredValue) {
  BoundFacade f;
  int changes = 0;
  f.filer.OnChange = [&](TNotifyPersistent*) { ++changes; };
  f.filer.SetImageFileName("p.bmp");
  f.filer.SetTextureBasename("t");
  f.filer.SetCubeSuffix(csZero);
  f.filer.SetExtractImageType(eiJpeg);
  f.filer.SetImageSize(is1024);
  f.filer.SetTopRotate(true);
  f.filer.SetChangeLeftRight(true);
  EXPECT_EQ(f.image.text, "p.bmp");
  EXPECT_EQ(f.base.text, "t");
  EXPECT_EQ(f.suffix.itemIndex, 1);
  EXPECT_EQ(f.type.itemIndex, 1);
  EXPECT_EQ(f.size.itemIndex, 4);
  EXPECT_TRUE(f.top.checked);
  EXPECT_TRUE(f.swap.checked);
  EXPECT_EQ(changes, 4);  // the four base properties that changed

  // An out-of-range ordinal travels as a byte; the group keeps its last item.
  f.filer.SetImageSize(static_cast<TImageSize>(static_cast<std::uint8_t>(-1)));
  EXPECT_EQ(f.size.itemIndex, 6);
  f.filer.SetImageSize(static_cast<TImageSize>(7));
  EXPECT_EQ(f.filer.GetImageSize(), is4096);
  f.filer.PrepareImageSize();
  EXPECT_EQ(f.filer.OutputSize, 4096);
}

TEST(SkyfoldFiler, ValidatesWhatTheControlsShow) {
  TempDir dir;
  BoundFacade f;
  MessageLog log;
  f.image.text = dir.file("pano.bmp");
  SaveBitmapAsBmp(f.image.text, Bitmap(16, 8));
  f.base.text = "pano";
  EXPECT_FALSE(f.filer.CheckParameters());
  EXPECT_EQ(log.texts.back(), "出力先が指定されていません。");
  f.folder.text = dir.path();  // no final delimiter
  EXPECT_TRUE(f.filer.CheckParameters());
  f.filer.BuildFileNames();
  EXPECT_EQ(f.filer.OutputPath(f.filer.FileNames[1]), dir.path() + "/pano_front.bmp");
}

}  // namespace
}  // namespace skyfold
