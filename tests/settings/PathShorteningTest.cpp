// Shortening of paths for the overwrite dialog, measured by a callback that
// counts bytes (one pixel per byte) so every step is predictable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/PathShortening.h"

namespace skyfold {
namespace {

// Records every measured text; width = bytes.
struct ByteMeasure {
  std::vector<std::string> measured;
  TMeasureWidth Callback() {
    return [this](const std::string& text) {
      measured.push_back(text);
      return static_cast<int>(text.size());
    };
  }
};

// Every form the path goes through when the limit is never met.
std::vector<std::string> AllSteps(const std::string& path) {
  ByteMeasure measure;
  const std::string last = ShortenPathForDisplay(path, measure.Callback(), 0);
  std::vector<std::string> steps = measure.measured;
  steps.push_back(last);
  return steps;
}

TEST(DropFirstDirectory, ReplacesDirectoriesFromTheLeftAndKeepsTheRoot) {
  std::string dir = "/a/b/c/";
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "/.../b/c/");
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "/.../c/");
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "/.../");

  dir = ".../";
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "");
  dir = "a/b/";
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, ".../b/");
  dir = "/";
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "");
  dir = "";
  DropFirstDirectory(dir);
  EXPECT_EQ(dir, "");
}

TEST(ShortenPathForDisplay, DropsDirectoriesStepByStepDownToTheBareName) {
  EXPECT_EQ(
      AllSteps("/data/pano/out/pano_front.jpg"),
      (std::vector<std::string>{"/data/pano/out/pano_front.jpg", "/.../pano/out/pano_front.jpg",
                                "/.../out/pano_front.jpg", "/.../pano_front.jpg",
                                ".../pano_front.jpg", "pano_front.jpg"}));
}

TEST(ShortenPathForDisplay, StopsAtTheFirstFormThatFits) {
  ByteMeasure measure;
  const std::string path = "/data/pano/out/pano_front.jpg";
  const std::string fitting = "/.../out/pano_front.jpg";
  EXPECT_EQ(ShortenPathForDisplay(path, measure.Callback(), static_cast<int>(fitting.size())),
            fitting);
  EXPECT_EQ(measure.measured.back(), fitting);
  EXPECT_EQ(measure.measured.size(), 3u);
}

TEST(ShortenPathForDisplay, APathThatFitsIsMeasuredOnceAndABareNameNever) {
  ByteMeasure fits;
  EXPECT_EQ(ShortenPathForDisplay("/data/f.bmp", fits.Callback(), 300), "/data/f.bmp");
  EXPECT_EQ(fits.measured.size(), 1u);

  ByteMeasure bare;
  EXPECT_EQ(ShortenPathForDisplay("a_very_long_file_name.bmp", bare.Callback(), 1),
            "a_very_long_file_name.bmp");
  EXPECT_TRUE(bare.measured.empty());
}

TEST(ShortenPathForDisplay, RelativeAndDoubleRootedPaths) {
  // The leading ".." is taken for a marker: "../x/" becomes ".../" at once.
  EXPECT_EQ(AllSteps("../x/f.bmp"), (std::vector<std::string>{"../x/f.bmp", ".../f.bmp", "f.bmp"}));
  // A share-like path keeps its first delimiter as the root.
  const std::vector<std::string> steps = AllSteps("//server/share/dir/f.bmp");
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps[1], "/.../server/share/dir/f.bmp");
  EXPECT_EQ(steps[2], "/.../share/dir/f.bmp");
  EXPECT_EQ(steps.back(), "f.bmp");
}

TEST(ShortenPathForDisplay, JapaneseFolderNamesAreCutOnlyAtDelimiters) {
  const std::string path = "/写真/パノラマ/出力/前面.jpg";
  const std::vector<std::string> steps = AllSteps(path);
  EXPECT_EQ(steps,
            (std::vector<std::string>{path, "/.../パノラマ/出力/前面.jpg", "/.../出力/前面.jpg",
                                      "/.../前面.jpg", ".../前面.jpg", "前面.jpg"}));
}

}  // namespace
}  // namespace skyfold
