// skyfold-cli to-pano on different thread counts, run as the real program:
// the same bytes and the same progress text whatever --threads says, and a
// face late in the list that cannot be decoded still fails the job with its
// decoder's message and no output file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "imaging/JpegIO.h"
#include "support/CliRunner.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

using Result = test::CliResult;

// Runs skyfold-cli with the given arguments (shell syntax) inside the folder.
Result RunCli(const test::TempDir& folder, const std::string& args) {
  return test::RunCliLine(folder, args, folder.path());
}

const std::array<const char*, 6> kSuffixes{"_left", "_front", "_right", "_back", "_top", "_bottom"};

// Six 72 × 60 faces with fine, seeded texture (not square, so every face
// is scaled on both axes into its 64-pixel cell).
void WriteFaces(const test::TempDir& dir) {
  for (int d = 0; d < 6; ++d) {
    Bitmap face(72, 60);
    for (int y = 0; y < face.height(); ++y) {
      std::uint8_t* p = face.row(y);
      for (int x = 0; x < face.width() * 3; ++x) {
        std::uint32_t v = static_cast<std::uint32_t>(x) * 2654435761u ^
                          static_cast<std::uint32_t>(y + 97 * d) * 40503u;
        v ^= v >> 13;
        p[x] = static_cast<std::uint8_t>(v);
      }
    }
    SaveBitmapAsJpeg(dir.file(std::string("hall") + kSuffixes[d] + ".jpg"), face, 95);
  }
}

class ToPanoThreads : public ::testing::Test {
 protected:
  void SetUp() override { WriteFaces(dir); }
  test::TempDir dir;
};

TEST_F(ToPanoThreads, OneAndThreeThreadsWriteTheSameBytesAndLines) {
  for (const char* ext : {"jpg", "bmp", "tif"}) {
    const std::string output = std::string("pano.") + ext;
    const Result one = RunCli(dir, "--threads 1 to-pano -w 512 -f -o " + output + " hall_left.jpg");
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string bytes = test::ReadText(dir.file(output));
    fs::remove(dir.file(output));

    const Result three =
        RunCli(dir, "--threads 3 to-pano -w 512 -f -o " + output + " hall_left.jpg");
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_FALSE(bytes.empty());
    EXPECT_TRUE(test::ReadText(dir.file(output)) == bytes) << ext << " files differ";
    EXPECT_EQ(three.err, one.err);
    EXPECT_EQ(three.out, one.out);
  }
}

TEST_F(ToPanoThreads, ALaterFaceThatCannotBeDecodedFailsTheJobAndWritesNothing) {
  std::ofstream(dir.file("hall_bottom.jpg"), std::ios::binary | std::ios::trunc)
      << "not a JPEG file";
  std::string firstErr;
  for (const char* threads : {"1", "3"}) {
    const Result r = RunCli(
        dir, std::string("--threads ") + threads + " to-pano -w 256 -o pano.jpg hall_front.jpg");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(fs::exists(dir.file("pano.jpg")));
    // Every face line comes out, the bottom face's last, then the message
    // naming the face, with the library's reason.
    EXPECT_NE(
        r.err.find("読み込んでいます。　hall_top.jpg....\n読み込んでいます。　hall_bottom.jpg\n" +
                   dir.file("hall_bottom.jpg") + ": JPEG エラー #53: Not a JPEG file"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("立方体表面の画像"), std::string::npos) << r.err;
    if (firstErr.empty()) {
      firstErr = r.err;
    } else {
      EXPECT_EQ(r.err, firstErr);
    }
  }
}

}  // namespace
}  // namespace skyfold
