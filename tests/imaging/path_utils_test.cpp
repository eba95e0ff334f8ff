#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "imaging/PathUtils.h"

namespace skyfold {
namespace {

TEST(PathUtils, ExtensionFollowsTheLastDotOfTheFileName) {
  EXPECT_EQ(ExtractFileExt("/photos/pano.JPG"), ".JPG");
  EXPECT_EQ(ExtractFileExt("a.b.TIFF"), ".TIFF");
  EXPECT_EQ(ExtractFileExt(".bmp"), ".bmp");
  EXPECT_EQ(ExtractFileExt("pano"), "");
  EXPECT_EQ(ExtractFileExt("/dir.tif/pano"), "");
  EXPECT_EQ(ExtractFileExt("/写真.d/パノラマ.jpg"), ".jpg");
  EXPECT_EQ(ChangeFileExt("/a.b/pano", ".tif"), "/a.b/pano.tif");
  EXPECT_EQ(ChangeFileExt("pano.png", ".jpg"), "pano.jpg");
}

TEST(PathUtils, FolderAndNameSplitAtTheLastDelimiter) {
  EXPECT_EQ(ExtractFilePath("/data/pano.jpg"), "/data/");
  EXPECT_EQ(ExtractFileName("/data/pano.jpg"), "pano.jpg");
  EXPECT_EQ(ExtractFilePath("pano.jpg"), "");
}

TEST(PathUtils, JoiningInsertsOneDelimiterOnlyWhenMissing) {
  EXPECT_EQ(JoinPath("/out/", "a_left.jpg"), "/out/a_left.jpg");
  EXPECT_EQ(JoinPath("/out", "a_left.jpg"), "/out/a_left.jpg");
  EXPECT_EQ(JoinPath("", "a.jpg"), "a.jpg");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  // The last character is part of a multi-byte character: not a delimiter.
  EXPECT_EQ(LastSingleByteChar("/出力"), 0);
  EXPECT_EQ(IncludeTrailingPathDelimiter("/出力"), "/出力/");
}

TEST(PathUtils, ExistenceTellsFilesFromFolders) {
  EXPECT_TRUE(DirectoryExists("/tmp"));
  EXPECT_TRUE(DirectoryExists("/tmp/"));
  EXPECT_FALSE(FileExists("/tmp"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirectoryExists("/no/such/folder"));
}

}  // namespace
}  // namespace skyfold
