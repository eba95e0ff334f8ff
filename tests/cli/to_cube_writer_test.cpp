// skyfold-cli to-cube with JPEG faces, where a face is encoded while the
// next one is cut: the same files, listing and progress lines as a
// one-thread run, and a face name that cannot be written refuses the job
// before anything is written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/BmpIO.h"
#include "imaging/PathUtils.h"
#include "support/CliRunner.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::CliResult;
using test::ReadText;
using test::RunCli;
using test::TempDir;

const char* const kSuffixes[] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};

class ToCubeJpegWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    pano_ = work_.file("pano.bmp");
    SaveBitmapAsBmp(pano_, test::DrawTexturedPanorama(256));
  }
  // Runs a job into folder `name` (created) with the given thread count.
  CliResult Run(const std::string& name, int threads, std::vector<std::string> extra = {}) {
    const std::string folder = work_.file(name);
    std::filesystem::create_directories(folder);
    std::vector<std::string> args{
        "--threads", std::to_string(threads), "to-cube", "-s", "128", "-t", "jpg", "-f", "-o",
        folder};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(pano_);
    CliResult r = RunCli(scratch_, args);
    // The folder differs between runs; compare the rest.
    for (std::string* text : {&r.out, &r.err}) {
      for (std::size_t at; (at = text->find(folder)) != std::string::npos;) {
        text->replace(at, folder.size(), "OUT");
      }
    }
    return r;
  }
  std::string Face(const std::string& folder, const char* suffix) const {
    return work_.file(folder + "/pano" + suffix + ".jpg");
  }
  TempDir scratch_;
  TempDir work_;
  std::string pano_;
};

TEST_F(ToCubeJpegWriter, OverlappedEncodingWritesTheSameFilesListingAndProgress) {
  const CliResult one = Run("one", 1, {"--rotate-top"});
  const CliResult two = Run("two", 2, {"--rotate-top"});
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.out, one.out);
  EXPECT_EQ(two.err, one.err);
  std::string listing;
  for (const char* s : kSuffixes) {
    listing += std::string("OUT/pano") + s + ".jpg\n";
    EXPECT_EQ(test::ReadBytes(Face("two", s)), test::ReadBytes(Face("one", s))) << s;
  }
  EXPECT_EQ(two.out, listing);
}

TEST_F(ToCubeJpegWriter, AFaceNameThatCannotBeWrittenRefusesTheJobBeforeAnyFace) {
  for (int threads : {1, 2}) {
    const std::string name = "t" + std::to_string(threads);
    // A folder where the back face's file should go.
    std::filesystem::create_directories(Face(name, "_back"));
    const CliResult r = Run(name, threads, {"-q"});
    EXPECT_EQ(r.status, 1) << threads;
    EXPECT_EQ(r.out, "") << threads;
    EXPECT_NE(r.err.find("OUT/pano_back.jpg"), std::string::npos) << r.err;
    for (const char* s : kSuffixes) {
      if (std::string(s) != "_back") {
        EXPECT_FALSE(FileExists(Face(name, s))) << s;
      }
    }
  }
}

}  // namespace
}  // namespace skyfold
