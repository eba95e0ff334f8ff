// The inverse job's names: which suffix rule a chosen face name follows, the
// six face names derived from it, the order of the check's messages, the
// panorama size, and the facade's bound and unbound properties.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filers/Cube2PanoFiler.h"
#include "filers/PanoFiler.h"
#include "imaging/ShowErrorMessage.h"
#include "support/PlainControls.h"

namespace skyfold {
namespace {

const std::string kNotSpecifiedImage = "画像ファイル名：が指定されていません。";
const std::string kNotSpecifiedCube = "Cube 画像ファイル名：が指定されていません。";
const std::string kNotProper = "Cube 画像ファイル名：が適切ではありません。";

// A filer with an output name and the given face name; messages recorded.
struct CheckedFiler {
  explicit CheckedFiler(const std::string& face, const std::string& output = "out.jpg")
      : sink([this](const std::string& text) { messages.push_back(text); }) {
    filer.SetImageFileName(output);
    filer.SetCubeImageFileName(face);
  }
  std::vector<std::string> messages;
  ScopedErrorMessageSink sink;
  TPanoFiler filer;
};

std::vector<std::string> FaceNames(const std::string& base,
                                   const std::vector<std::string>& suffixes,
                                   const std::string& ext) {
  std::vector<std::string> names;
  for (const std::string& s : suffixes) names.push_back(base + s + ext);
  return names;
}

const std::vector<std::string> kWordSuffixes{"_left", "_front", "_right",
                                             "_back", "_top",   "_bottom"};
const std::vector<std::string> kDigitSuffixes{"_3", "_0", "_1", "_2", "_4", "_5"};

TEST(UnderscoreScan, FindsTheLastUnderscoreAndSplitsAroundIt) {
  EXPECT_FALSE(ContainsUnderscore("abc"));
  EXPECT_TRUE(ContainsUnderscore("a_b"));
  EXPECT_EQ(LastUnderscorePos("abc"), 0);
  EXPECT_EQ(LastUnderscorePos("_a"), 1);
  EXPECT_EQ(LastUnderscorePos("a_b_c"), 4);
  EXPECT_EQ(TextBeforeLastUnderscore("a_b_c"), "a_b");
  EXPECT_EQ(TextAfterLastUnderscore("a_b_c"), "c");
  EXPECT_EQ(TextBeforeLastUnderscore("abc"), "");
  EXPECT_EQ(TextAfterLastUnderscore("abc"), "");
  EXPECT_EQ(TextAfterLastUnderscore("abc_"), "");
  // Multi-byte characters never hide or fake an underscore.
  EXPECT_EQ(TextBeforeLastUnderscore("写真_前.jpg"), "写真");
  EXPECT_EQ(TextAfterLastUnderscore("写真_前.jpg"), "前.jpg");
  EXPECT_FALSE(ContainsUnderscore("写真.jpg"));
}

TEST(SuffixDetection, WordNamesSelectTheWordRuleByTheirFirstLetter) {
  for (const std::string face : {"x_left.jpg", "x_Lake.jpg", "x_l2.jpg", "x_bottom.jpg",
                                 "x_Top.jpg", "x_rx.jpg", "x_ff.jpg", "x_Back.jpg"}) {
    CheckedFiler job(face);
    job.filer.SetCubeSuffix(csZero);
    EXPECT_TRUE(job.filer.DetectCubeSuffix()) << face;
    EXPECT_EQ(job.filer.GetCubeSuffix(), csLeft) << face;
  }
}

TEST(SuffixDetection, AllWordNamesOfASetYieldTheSameSixNames) {
  const auto expected = FaceNames("x", kWordSuffixes, ".jpg");
  for (const std::string face : {"x_left.jpg", "x_Lake.jpg", "x_l2.jpg"}) {
    CheckedFiler job(face);
    ASSERT_TRUE(job.filer.CheckParameters()) << face;
    job.filer.BuildFileNames();
    EXPECT_EQ(job.filer.FileNames, expected) << face;
  }
}

TEST(SuffixDetection, DigitsZeroToFiveSelectTheDigitRule) {
  for (const std::string face : {"x_0.tif", "x_5.tif", "x_3"}) {
    CheckedFiler job(face);
    EXPECT_TRUE(job.filer.DetectCubeSuffix()) << face;
    EXPECT_EQ(job.filer.GetCubeSuffix(), csZero) << face;
  }
}

TEST(SuffixDetection, UnfitNamesAreRefusedAndLeaveTheRuleAlone) {
  for (const std::string face :
       {"x_6.tif", "x_l.tif", "x_10.tif", "x_.tif", "x.tif", "x_a.tif", "x_ab.tif", "x_前.tif"}) {
    CheckedFiler job(face);
    job.filer.SetCubeSuffix(csZero);
    EXPECT_FALSE(job.filer.DetectCubeSuffix()) << face;
    EXPECT_EQ(job.filer.GetCubeSuffix(), csZero) << face;
    EXPECT_FALSE(job.filer.CheckParameters()) << face;
    EXPECT_EQ(job.messages, std::vector<std::string>{kNotProper}) << face;
  }
}

TEST(SuffixDetection, TheExtensionIsRemovedBeforeTheSuffixIsRead) {
  // The dot of "x_0.5.tif"'s extension is the last one: "x_0.5" has tail "0.5".
  CheckedFiler dotted("x_0.5.tif");
  EXPECT_FALSE(dotted.filer.DetectCubeSuffix());
  // A dot inside a folder is not an extension.
  CheckedFiler folderDot("/pics.v_2/x_1");
  EXPECT_TRUE(folderDot.filer.DetectCubeSuffix());
  EXPECT_EQ(folderDot.filer.GetCubeSuffix(), csZero);
}

TEST(SuffixDetection, AnUnderscoreInAFolderCountsWhenTheFileNameHasNone) {
  CheckedFiler job("/a_b/x.jpg");
  ASSERT_TRUE(job.filer.CheckParameters());
  EXPECT_EQ(job.filer.GetCubeSuffix(), csLeft);
  job.filer.BuildFileNames();
  EXPECT_EQ(job.filer.FileNames, FaceNames("/a", kWordSuffixes, ".jpg"));
}

TEST(FaceNames, WordRuleListsTheSixFacesInFaceOrderWithTheirFolder) {
  CheckedFiler job("/pics/hall_front.jpg");
  ASSERT_TRUE(job.filer.CheckParameters());
  job.filer.BuildFileNames();
  EXPECT_EQ(job.filer.FileNames, FaceNames("/pics/hall", kWordSuffixes, ".jpg"));
}

TEST(FaceNames, DigitRuleNumbersFromTheFront) {
  CheckedFiler job("/pics/hall_0.bmp");
  ASSERT_TRUE(job.filer.CheckParameters());
  job.filer.BuildFileNames();
  EXPECT_EQ(job.filer.FileNames, FaceNames("/pics/hall", kDigitSuffixes, ".bmp"));
}

TEST(FaceNames, TheExtensionIsKeptAsTypedAndTheSuffixesAreLowerCase) {
  CheckedFiler digits("x_0.JPG");
  ASSERT_TRUE(digits.filer.CheckParameters());
  digits.filer.BuildFileNames();
  EXPECT_EQ(digits.filer.FileNames, FaceNames("x", kDigitSuffixes, ".JPG"));

  CheckedFiler words("DIR/X_LEFT.Tiff");
  ASSERT_TRUE(words.filer.CheckParameters());
  words.filer.BuildFileNames();
  EXPECT_EQ(words.filer.FileNames, FaceNames("DIR/X", kWordSuffixes, ".Tiff"));

  CheckedFiler bare("x_top");
  ASSERT_TRUE(bare.filer.CheckParameters());
  bare.filer.BuildFileNames();
  EXPECT_EQ(bare.filer.FileNames, FaceNames("x", kWordSuffixes, ""));
}

TEST(FaceNames, ARebuildReplacesTheListOfTheRunBefore) {
  CheckedFiler job("a_front.jpg");
  ASSERT_TRUE(job.filer.CheckParameters());
  job.filer.BuildFileNames();
  job.filer.SetCubeImageFileName("b_2.tif");
  ASSERT_TRUE(job.filer.CheckParameters());
  job.filer.BuildFileNames();
  EXPECT_EQ(job.filer.FileNames, FaceNames("b", kDigitSuffixes, ".tif"));
}

TEST(Check, MessagesComeInOrderOutputNameFirst) {
  {
    CheckedFiler job("x.jpg", "");  // the face name is bad too, but not looked at
    EXPECT_FALSE(job.filer.CheckParameters());
    EXPECT_EQ(job.messages, std::vector<std::string>{kNotSpecifiedImage});
  }
  {
    CheckedFiler job("", "out.jpg");
    EXPECT_FALSE(job.filer.CheckParameters());
    EXPECT_EQ(job.messages, std::vector<std::string>{kNotSpecifiedCube});
  }
  {
    CheckedFiler job("x.jpg", "out.jpg");
    EXPECT_FALSE(job.filer.CheckParameters());
    EXPECT_EQ(job.messages, std::vector<std::string>{kNotProper});
  }
  {
    // Neither the faces nor the output need exist for the check.
    CheckedFiler job("/nowhere/x_left.jpg", "/nowhere/out.jpg");
    EXPECT_TRUE(job.filer.CheckParameters());
    EXPECT_TRUE(job.messages.empty());
  }
}

TEST(PanoSize, TheWidthDoublesPerStepAndOutOfRangeKeepsTheLastSize) {
  TPanoFiler filer;
  for (int v = ps256; v <= ps16384; ++v) {
    filer.SetPanoImageSize(static_cast<TPanoImageSize>(v));
    filer.PrepareImageSize();
    EXPECT_EQ(filer.OutputSize, 256 << v);
  }
  filer.SetPanoImageSize(ps8192);
  filer.PrepareImageSize();
  EXPECT_EQ(filer.OutputSize, 8192);
  filer.SetPanoImageSize(static_cast<TPanoImageSize>(7));
  filer.PrepareImageSize();
  EXPECT_EQ(filer.OutputSize, 8192);
}

TEST(PanoFilerProperties, StartEmptyAtTheSmallestSizeAndSetWithoutNotifying) {
  TPanoFiler filer;
  EXPECT_EQ(filer.GetCubeImageFileName(), "");
  EXPECT_EQ(filer.GetPanoImageSize(), ps256);
  int changes = 0;
  filer.OnChange = [&](TNotifyPersistent*) { ++changes; };
  filer.SetCubeImageFileName("a_left.jpg");
  filer.SetPanoImageSize(ps4096);
  EXPECT_EQ(filer.GetCubeImageFileName(), "a_left.jpg");
  EXPECT_EQ(filer.GetPanoImageSize(), ps4096);
  EXPECT_EQ(changes, 0);
  filer.SetImageFileName("out.jpg");  // the base's setters still notify
  EXPECT_EQ(changes, 1);
}

struct BoundFacade {
  BoundFacade() {
    facade.CubeImageFileNameEdit = &cubeEdit;
    facade.ImageFileNameEdit = &panoEdit;
    facade.PanoImageSizeGroup = &sizeGroup;
    facade.ExtractImageTypeGroup = &typeGroup;
  }
  test::PlainEdit cubeEdit, panoEdit;
  test::PlainRadioGroup sizeGroup{7, 5};
  test::PlainRadioGroup typeGroup{3, 1};
  TCube2PanoFiler facade;
};

TEST(Facade, BoundNamesLiveInTheEditsOnly) {
  BoundFacade f;
  f.facade.SetCubeImageFileName("a_left.jpg");
  f.facade.SetImageFileName("pano.jpg");
  EXPECT_EQ(f.cubeEdit.text, "a_left.jpg");
  EXPECT_EQ(f.panoEdit.text, "pano.jpg");
  EXPECT_EQ(f.facade.TPanoFiler::GetCubeImageFileName(), "");
  EXPECT_EQ(f.facade.TPanoFiler::GetImageFileName(), "");
  f.cubeEdit.text = "typed_0.bmp";
  f.panoEdit.text = "typed.bmp";
  EXPECT_EQ(f.facade.GetCubeImageFileName(), "typed_0.bmp");
  EXPECT_EQ(f.facade.GetImageFileName(), "typed.bmp");
}

TEST(Facade, BoundGroupsSelectTheOrdinalAndTheValueIsStoredToo) {
  BoundFacade f;
  EXPECT_EQ(f.facade.GetPanoImageSize(), ps8192);
  EXPECT_EQ(f.facade.GetExtractImageType(), eiJpeg);
  f.facade.SetPanoImageSize(ps1024);
  f.facade.SetExtractImageType(eiTiff);
  EXPECT_EQ(f.sizeGroup.itemIndex, 2);
  EXPECT_EQ(f.typeGroup.itemIndex, 2);
  EXPECT_EQ(f.facade.TPanoFiler::GetPanoImageSize(), ps1024);
  EXPECT_EQ(f.facade.TPanoFiler::GetExtractImageType(), eiTiff);
  // The group's own selection is what a run reads.
  f.sizeGroup.itemIndex = 0;
  f.facade.PrepareImageSize();
  EXPECT_EQ(f.facade.OutputSize, 256);
  // An ordinal past the items: the group clamps, the filer keeps the value.
  f.facade.SetPanoImageSize(static_cast<TPanoImageSize>(9));
  EXPECT_EQ(f.sizeGroup.itemIndex, 6);
  EXPECT_EQ(f.facade.TPanoFiler::GetPanoImageSize(), 9);
}

TEST(Facade, UnboundPropertiesFallBackToTheStoredValues) {
  TCube2PanoFiler facade;
  facade.SetCubeImageFileName("a_5.tif");
  facade.SetImageFileName("pano.bmp");
  facade.SetPanoImageSize(ps2048);
  facade.SetExtractImageType(eiJpeg);
  EXPECT_EQ(facade.GetCubeImageFileName(), "a_5.tif");
  EXPECT_EQ(facade.GetImageFileName(), "pano.bmp");
  EXPECT_EQ(facade.GetPanoImageSize(), ps2048);
  EXPECT_EQ(facade.GetExtractImageType(), eiJpeg);
}

TEST(Facade, TheCheckReadsTheControlsAtTheMomentOfTheCall) {
  BoundFacade f;
  std::vector<std::string> messages;
  ScopedErrorMessageSink sink([&](const std::string& t) { messages.push_back(t); });
  f.facade.SetImageFileName("stored-but-unused.jpg");
  f.panoEdit.text = "";
  f.cubeEdit.text = "a_front.jpg";
  EXPECT_FALSE(f.facade.CheckParameters());
  f.panoEdit.text = "pano.jpg";
  EXPECT_TRUE(f.facade.CheckParameters());
  EXPECT_EQ(messages, std::vector<std::string>{kNotSpecifiedImage});
}

}  // namespace
}  // namespace skyfold
