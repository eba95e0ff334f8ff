// Unfolding the six face files into the intermediate image: where each face
// lands and how it is turned (checked with a distinct colour per quadrant of
// every face), faces of any size, the progress lines, and the refusals that
// stop the job before anything is loaded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "filers/PanoFiler.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/ShowErrorMessage.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

using TempFolder = test::TempDir;

enum Quadrant { TL = 0, TR = 1, BL = 2, BR = 3 };

// A distinct, non-white colour for each quadrant of each face.
PaletteEntry QuadrantColour(int face, int quadrant) {
  return PaletteEntry{static_cast<std::uint8_t>(20 + 40 * face),
                      static_cast<std::uint8_t>(10 + 60 * quadrant), 90};
}

// A w × h face whose four quadrants (split at w/2, h/2) have their colours.
Bitmap QuadrantFace(int face, int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const PaletteEntry c = QuadrantColour(face, (y < h / 2 ? 0 : 2) + (x < w / 2 ? 0 : 1));
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
  return b;
}

const std::array<const char*, 6> kSuffixes{"_left", "_front", "_right", "_back", "_top", "_bottom"};

// Which face quadrant fills each q × q block of the intermediate image
// (block rows: top band, upper and lower side band, bottom band).
struct Block {
  int face;
  Quadrant quadrant;
};
const Block kLayout[4][8] = {
    {{fiTop, TL},
     {fiTop, TL},
     {fiTop, BL},
     {fiTop, BL},
     {fiTop, BR},
     {fiTop, BR},
     {fiTop, TR},
     {fiTop, TR}},
    {{fiBack, TR},
     {fiLeft, TL},
     {fiLeft, TR},
     {fiFront, TL},
     {fiFront, TR},
     {fiRight, TL},
     {fiRight, TR},
     {fiBack, TL}},
    {{fiBack, BR},
     {fiLeft, BL},
     {fiLeft, BR},
     {fiFront, BL},
     {fiFront, BR},
     {fiRight, BL},
     {fiRight, BR},
     {fiBack, BL}},
    {{fiBottom, BL},
     {fiBottom, BL},
     {fiBottom, TL},
     {fiBottom, TL},
     {fiBottom, TR},
     {fiBottom, TR},
     {fiBottom, BR},
     {fiBottom, BR}},
};

class FaceLoading : public ::testing::Test {
 protected:
  FaceLoading() : sink_([this](const std::string& t) { messages.push_back(t); }) {
    filer.SetImageFileName(folder.file("pano.bmp"));
    filer.SetCubeImageFileName(folder.file("cube_front.bmp"));
    filer.SetPanoImageSize(ps256);
    filer.OnProgress = [this](TSimFiler*, const std::string& s, TSimProgressMode mode) {
      if (mode == spAppend) lines.emplace_back();
      lines.back() += s;
    };
  }

  // Writes the six faces, face d as a sizes[d] quadrant face.
  void WriteFaces(const std::array<std::array<int, 2>, 6>& sizes, const std::string& ext = ".bmp") {
    for (int d = 0; d < 6; ++d) {
      SaveBitmapAsBmp(folder.file(std::string("cube") + kSuffixes[d] + ext),
                      QuadrantFace(d, sizes[d][0], sizes[d][1]));
    }
  }

  bool Load(Bitmap& bitmap) {
    filer.PrepareImageSize();
    filer.BuildFileNames();
    return filer.LoadCubeFaces(bitmap);
  }

  // Every pixel of every q × q block has the colour of its face quadrant.
  void ExpectLayout(const Bitmap& b) {
    const int q = b.width() / 8;
    ASSERT_EQ(b.width(), 256);
    ASSERT_EQ(b.height(), 128);
    ASSERT_EQ(b.format(), PixelFormat::Bgr24);
    for (int y = 0; y < b.height(); ++y) {
      for (int x = 0; x < b.width(); ++x) {
        const Block& block = kLayout[y / q][x / q];
        ASSERT_EQ(b.pixel(x, y), QuadrantColour(block.face, block.quadrant))
            << "pixel " << x << "," << y << " should show face " << block.face << " quadrant "
            << block.quadrant;
      }
    }
  }

  TempFolder folder;
  std::vector<std::string> messages;
  std::vector<std::string> lines;
  TPanoFiler filer;

 private:
  ScopedErrorMessageSink sink_;
};

TEST_F(FaceLoading, EachFaceLandsInItsCellTurnedToMeetItsNeighbours) {
  WriteFaces({{{64, 64}, {64, 64}, {64, 64}, {64, 64}, {64, 64}, {64, 64}}});
  Bitmap bitmap;
  ASSERT_TRUE(Load(bitmap));
  EXPECT_TRUE(messages.empty());
  ExpectLayout(bitmap);
}

TEST_F(FaceLoading, FacesOfAnySizeAreScaledIntoTheirCells) {
  // An odd-width back face splits at w div 2 and its wider right part is
  // squeezed into the left-edge cell; nothing needs to be square.
  WriteFaces({{{40, 40}, {100, 70}, {16, 128}, {31, 20}, {50, 50}, {90, 90}}});
  Bitmap bitmap(10, 10);
  ASSERT_TRUE(Load(bitmap));
  ExpectLayout(bitmap);
}

TEST_F(FaceLoading, ReportsOneLinePerFaceEndingInFourDots) {
  WriteFaces({{{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}});
  Bitmap bitmap;
  ASSERT_TRUE(Load(bitmap));
  std::vector<std::string> expected;
  for (const char* s : kSuffixes)
    expected.push_back(std::string("読み込んでいます。　cube") + s + ".bmp....");
  EXPECT_EQ(lines, expected);
}

TEST_F(FaceLoading, AMissingFaceStopsTheJobBeforeAnythingIsLoaded) {
  WriteFaces({{{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}});
  fs::remove(folder.file("cube_top.bmp"));
  Bitmap bitmap(3, 2);
  EXPECT_FALSE(Load(bitmap));
  EXPECT_EQ(messages, std::vector<std::string>{"Cube 画像ファイルがありません。\n" +
                                               folder.file("cube_top.bmp")});
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(bitmap.width(), 3);
  EXPECT_EQ(bitmap.height(), 2);
}

TEST_F(FaceLoading, AFaceOfAnUnacceptedKindStopsTheJobAfterTheLoadersMessage) {
  filer.SetCubeImageFileName(folder.file("cube_front.gif"));
  WriteFaces({{{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}}, ".gif");
  Bitmap bitmap(3, 2);
  EXPECT_FALSE(Load(bitmap));
  EXPECT_EQ(messages, std::vector<std::string>{"扱えない画像ファイルです。"});
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(bitmap.width(), 3);
}

TEST_F(FaceLoading, AFailedCheckLeavesTheBitmapAlone) {
  filer.SetCubeImageFileName(folder.file("cube.bmp"));
  Bitmap bitmap(3, 2);
  filer.PrepareImageSize();
  EXPECT_FALSE(filer.LoadCubeFaces(bitmap));
  EXPECT_EQ(messages, std::vector<std::string>{"Cube 画像ファイル名：が適切ではありません。"});
  EXPECT_EQ(bitmap.width(), 3);
}

TEST_F(FaceLoading, AFaceThatCannotBeDecodedRaisesTheDecodersError) {
  WriteFaces({{{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}});
  std::ofstream(folder.file("cube_right.bmp"), std::ios::binary | std::ios::trunc)
      << "BM not a bitmap";
  Bitmap bitmap;
  EXPECT_THROW(Load(bitmap), CodecError);
}

}  // namespace
}  // namespace skyfold
