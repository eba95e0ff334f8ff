// Loading the source panorama (progress lines, 24-bit conversion, size
// normalisation) and writing results, all through real files in a
// temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "filers/SimFilers.h"
#include "imaging/BmpIO.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

const PaletteEntry kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kBlack{0, 0, 0};

using TempFolder = test::TempDir;

struct ProgressLine {
  std::string text;
  TSimProgressMode mode;
  friend bool operator==(const ProgressLine&, const ProgressLine&) = default;
};

void PrintTo(const ProgressLine& line, std::ostream* os) {
  *os << "{\"" << line.text << "\", " << int(line.mode) << "}";
}

void Fill(Bitmap& b, int left, int top, int right, int bottom, PaletteEntry c) {
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* p = b.row(y) + left * 3;
    for (int x = left; x < right; ++x, p += 3) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
}

// Four quadrants split at (w / 2, h / 2): red, green / blue, black.
Bitmap Quadrants(int w, int h) {
  Bitmap b(w, h);
  Fill(b, 0, 0, w / 2, h / 2, kRed);
  Fill(b, w / 2, 0, w, h / 2, kGreen);
  Fill(b, 0, h / 2, w / 2, h, kBlue);
  Fill(b, w / 2, h / 2, w, h, kBlack);
  return b;
}

Bitmap Gradient(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
      p[2] = 128;
    }
  }
  return b;
}

// An 8-bit palette BMP written byte by byte, so the loader hands back a
// palette bitmap: 16 × 8, column x uses palette entry x (grey level x * 16).
void WritePaletteBmp(const std::string& fileName) {
  const int w = 16, h = 8;
  const std::uint32_t paletteBytes = 256 * 4, offset = 14 + 40 + paletteBytes;
  const std::uint32_t imageBytes = w * h;  // 16 is already a multiple of 4
  std::vector<std::uint8_t> out;
  auto u16 = [&](std::uint32_t v) {
    out.push_back(v & 0xff);
    out.push_back((v >> 8) & 0xff);
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xffff);
    u16(v >> 16);
  };
  out.push_back('B');
  out.push_back('M');
  u32(offset + imageBytes);
  u32(0);
  u32(offset);
  u32(40);
  u32(w);
  u32(h);
  u16(1);
  u16(8);
  u32(0);
  u32(imageBytes);
  u32(2835);
  u32(2835);
  u32(256);
  u32(0);
  for (int i = 0; i < 256; ++i) {
    const auto grey = static_cast<std::uint8_t>((i * 16) & 0xff);
    out.insert(out.end(), {grey, grey, grey, 0});
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) out.push_back(static_cast<std::uint8_t>(x));
  }
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SourceLoading : public ::testing::Test {
 protected:
  SourceLoading() {
    filer.OnProgress = [this](TSimFiler*, const std::string& text, TSimProgressMode mode) {
      progress.push_back({text, mode});
    };
  }

  // Writes source as a BMP, points the filer at it and loads it.
  bool LoadFromBmp(const Bitmap& source, Bitmap& loaded) {
    const std::string name = temp.file("pano.bmp");
    SaveBitmapAsBmp(name, source);
    filer.SetImageFileName(name);
    return filer.LoadSourceImage(loaded);
  }

  ProgressLine Reading() const {
    return {"読み込んでいます。　" + filer.GetImageFileName(), spAppend};
  }
  static ProgressLine Fixing() { return {"イメージサイズを修正しています。", spAppend}; }

  TempFolder temp;
  TSimFiler filer;
  std::vector<ProgressLine> progress;
  std::vector<std::string> messages;
  ScopedErrorMessageSink sink{[this](const std::string& text) { messages.push_back(text); }};
};

TEST_F(SourceLoading, AnExactTwoToOneSourceIsKeptAsItIs) {
  Bitmap loaded;
  ASSERT_TRUE(LoadFromBmp(Quadrants(4096, 2048), loaded));
  EXPECT_EQ(loaded.width(), 4096);
  EXPECT_EQ(loaded.height(), 2048);
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_EQ(loaded.pixel(2047, 1023), kRed);
  EXPECT_EQ(loaded.pixel(2048, 1023), kGreen);
  EXPECT_EQ(loaded.pixel(2047, 1024), kBlue);
  EXPECT_EQ(loaded.pixel(4095, 2047), kBlack);
  EXPECT_EQ(progress, (std::vector<ProgressLine>{Reading()}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(SourceLoading, ASideNotAMultipleOf8IsStretchedToTheMinimumWidth) {
  Bitmap loaded;
  ASSERT_TRUE(LoadFromBmp(Quadrants(4000, 2004), loaded));
  EXPECT_EQ(loaded.width(), 8192);
  EXPECT_EQ(loaded.height(), 4096);
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_EQ(progress, (std::vector<ProgressLine>{Reading(), Fixing()}));
  // Nearest neighbour over the whole source: destination x takes source
  // x * 4000 / 8192, so the quadrant borders land exactly on 4096 and 2048.
  EXPECT_EQ(loaded.pixel(0, 0), kRed);
  EXPECT_EQ(loaded.pixel(4095, 2047), kRed);
  EXPECT_EQ(loaded.pixel(4096, 2047), kGreen);
  EXPECT_EQ(loaded.pixel(4095, 2048), kBlue);
  EXPECT_EQ(loaded.pixel(4096, 2048), kBlack);
  EXPECT_EQ(loaded.pixel(8191, 4095), kBlack);
}

TEST_F(SourceLoading, AWideSourceIsRoundedDownToAMultipleOf8) {
  Bitmap loaded;
  ASSERT_TRUE(LoadFromBmp(Quadrants(10001, 5000), loaded));
  EXPECT_EQ(loaded.width(), 10000);
  EXPECT_EQ(loaded.height(), 5000);
  EXPECT_EQ(progress, (std::vector<ProgressLine>{Reading(), Fixing()}));
  EXPECT_EQ(loaded.pixel(0, 0), kRed);
  EXPECT_EQ(loaded.pixel(9999, 4999), kBlack);
}

TEST_F(SourceLoading, MultiplesOf8ThatAreNotTwoToOneAreNormalisedToo) {
  // Left as it is, a 4:1 source would make the warp read below the image.
  Bitmap loaded;
  ASSERT_TRUE(LoadFromBmp(Quadrants(4000, 1000), loaded));
  EXPECT_EQ(loaded.width(), 8192);
  EXPECT_EQ(loaded.height(), 4096);
  EXPECT_EQ(progress, (std::vector<ProgressLine>{Reading(), Fixing()}));
  EXPECT_EQ(loaded.pixel(4095, 2047), kRed);
  EXPECT_EQ(loaded.pixel(4096, 2048), kBlack);

  progress.clear();
  Bitmap square;
  ASSERT_TRUE(LoadFromBmp(Quadrants(64, 64), square));
  EXPECT_EQ(square.width(), 8192);
  EXPECT_EQ(square.height(), 4096);
}

TEST_F(SourceLoading, APaletteSourceArrivesIn24Bits) {
  const std::string name = temp.file("grey.bmp");
  WritePaletteBmp(name);
  filer.SetImageFileName(name);
  Bitmap loaded;
  ASSERT_TRUE(filer.LoadSourceImage(loaded));
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_EQ(loaded.width(), 16);
  EXPECT_EQ(loaded.height(), 8);
  for (int x : {0, 1, 9, 15}) {
    const auto grey = static_cast<std::uint8_t>(x * 16);
    EXPECT_EQ(loaded.pixel(x, 3), (PaletteEntry{grey, grey, grey})) << "x = " << x;
  }
  EXPECT_EQ(loaded.row(7)[15 * 3], 240);
}

TEST_F(SourceLoading, AnUnacceptedExtensionStopsTheRunWithTheBitmapEmpty) {
  const std::string name = temp.file("pano.gif");
  SaveBitmapAsBmp(name, Quadrants(96, 48));  // real pixels, wrong extension
  filer.SetImageFileName(name);
  Bitmap loaded;
  EXPECT_FALSE(filer.LoadSourceImage(loaded));
  EXPECT_EQ(messages, (std::vector<std::string>{"扱えない画像ファイルです。"}));
  EXPECT_TRUE(loaded.empty());
  EXPECT_EQ(progress, (std::vector<ProgressLine>{Reading()}));
}

TEST_F(SourceLoading, AMissingFileGivesNoLineNoMessageAndLeavesTheBitmap) {
  filer.SetImageFileName(temp.file("missing.bmp"));
  Bitmap kept = Quadrants(24, 8);
  EXPECT_FALSE(filer.LoadSourceImage(kept));
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(kept.width(), 24);
  EXPECT_EQ(kept.pixel(0, 0), kRed);
  EXPECT_EQ(kept.pixel(23, 7), kBlack);
}

class ResultWriting : public SourceLoading {
 protected:
  Bitmap SaveAndLoad(TExtractImageType type, const std::string& name) {
    filer.SetExtractImageType(type);
    Bitmap source = Gradient(96, 48);
    filer.SaveImage(source, temp.file(name), fiFront);
    Bitmap back;
    EXPECT_TRUE(LoadImageFile(back, temp.file(name)));
    return back;
  }
};

TEST_F(ResultWriting, BitmapAndTiffResultsLoadBackExactly) {
  const Bitmap source = Gradient(96, 48);
  for (auto [type, name, magic] : {std::tuple{eiBitmap, "face.bmp", std::string("BM")},
                                   std::tuple{eiTiff, "face.tif", std::string("II*\0", 4)}}) {
    Bitmap back = SaveAndLoad(type, name);
    ConvertToBgr24(back);
    ASSERT_EQ(back.width(), 96) << name;
    ASSERT_EQ(back.height(), 48) << name;
    const auto bytes = ReadBytes(temp.file(name));
    ASSERT_GE(bytes.size(), magic.size());
    EXPECT_TRUE(std::equal(magic.begin(), magic.end(), bytes.begin())) << name;
    for (int y = 0; y < 48; ++y) {
      ASSERT_TRUE(std::equal(source.row(y), source.row(y) + source.rowBytes(), back.row(y)))
          << name << " row " << y;
    }
  }
}

TEST_F(ResultWriting, JpegResultIsCloseToTheSource) {
  const Bitmap source = Gradient(96, 48);
  Bitmap back = SaveAndLoad(eiJpeg, "face.jpg");
  ASSERT_EQ(back.format(), PixelFormat::Bgr24);
  ASSERT_EQ(back.width(), 96);
  ASSERT_EQ(back.height(), 48);
  const auto bytes = ReadBytes(temp.file("face.jpg"));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  int worst = 0;
  for (int y = 0; y < 48; ++y) {
    for (std::size_t i = 0; i < source.rowBytes(); ++i) {
      worst = std::max(worst, std::abs(int(source.row(y)[i]) - int(back.row(y)[i])));
    }
  }
  // Quality 100 on a smooth gradient stays within a few levels.
  EXPECT_LE(worst, 8);
}

TEST_F(ResultWriting, AnExistingFileIsReplaced) {
  std::ofstream(temp.file("face.bmp")) << "old contents that are not a bitmap";
  Bitmap back = SaveAndLoad(eiBitmap, "face.bmp");
  EXPECT_EQ(back.width(), 96);
}

TEST_F(ResultWriting, AnUnknownTypeWritesNothing) {
  filer.SetExtractImageType(static_cast<TExtractImageType>(eiTiffFloat + 1));
  Bitmap source = Gradient(96, 48);
  filer.SaveImage(source, temp.file("face.xyz"), fiTop);
  EXPECT_FALSE(fs::exists(temp.file("face.xyz")));
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace skyfold
