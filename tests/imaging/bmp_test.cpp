// BMP reading and writing: files of every header variant, depth and
// compression are assembled byte by byte here, written to a temporary folder
// and read back through ReadBmpFile; hostile headers and streams must end in
// CodecError, never in a crash or a read outside the buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using TempFolder = test::TempDir;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// What a test BMP holds; BuildBmp lays it out as a writer would.
struct BmpSpec {
  std::uint32_t headerSize = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t planes = 1;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t colorsUsed = 0;
  std::vector<PaletteEntry> palette;
  std::vector<std::uint32_t> masks;  // inside a long header, else after the 40 bytes
  Bytes pixels;                      // exactly as stored
};

Bytes BuildBmp(const BmpSpec& s) {
  const bool core = s.headerSize == 12;
  Bytes b(14 + s.headerSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 14, s.headerSize);
  if (core) {
    Put16(b, 18, static_cast<std::uint32_t>(s.width));
    Put16(b, 20, static_cast<std::uint32_t>(s.height));
    Put16(b, 22, s.planes);
    Put16(b, 24, s.bits);
  } else {
    Put32(b, 18, static_cast<std::uint32_t>(s.width));
    Put32(b, 22, static_cast<std::uint32_t>(s.height));
    Put16(b, 26, s.planes);
    Put16(b, 28, s.bits);
    Put32(b, 30, s.compression);
    Put32(b, 34, static_cast<std::uint32_t>(s.pixels.size()));
    Put32(b, 46, s.colorsUsed);
    if (s.headerSize >= 52) {
      for (std::size_t i = 0; i < s.masks.size(); ++i) Put32(b, 54 + 4 * i, s.masks[i]);
    } else {
      for (std::uint32_t m : s.masks) {
        b.resize(b.size() + 4);
        Put32(b, b.size() - 4, m);
      }
    }
  }
  for (const PaletteEntry& c : s.palette) {
    b.insert(b.end(), {c.b, c.g, c.r});
    if (!core) b.push_back(0);
  }
  Put32(b, 10, static_cast<std::uint32_t>(b.size()));
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  return b;
}

// Rows as stored, each padded to a multiple of 4 bytes.
Bytes Rows(std::initializer_list<Bytes> rows) {
  Bytes out;
  for (const Bytes& r : rows) {
    out.insert(out.end(), r.begin(), r.end());
    out.resize((out.size() + 3) / 4 * 4, 0);
  }
  return out;
}

void WriteFile(const std::string& name, const Bytes& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class BmpFiles : public ::testing::Test {
 protected:
  Bitmap Load(const BmpSpec& spec) {
    const std::string name = folder_.file("test.bmp");
    WriteFile(name, BuildBmp(spec));
    Bitmap bmp;
    ReadBmpFile(name, bmp);
    return bmp;
  }
  TempFolder folder_;
};

std::vector<std::uint8_t> Indexes(const Bitmap& b, int y) {
  return {b.row(y), b.row(y) + b.width()};
}

constexpr PaletteEntry kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{0, 0, 255}, kGreen{0, 255, 0},
    kBlue{255, 0, 0};

TEST_F(BmpFiles, CoreHeaderOneBitKeepsItsThreeBytePaletteAndIndexes) {
  BmpSpec s;
  s.headerSize = 12;
  s.width = 10;
  s.height = 2;
  s.bits = 1;
  s.palette = {kRed, kBlue};
  // Bottom-up: the first stored row is the bottom row.
  s.pixels = Rows({{0b10000000, 0b01000000}, {0b01010101, 0b11000000}});
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Indexed1);
  ASSERT_EQ(b.width(), 10);
  ASSERT_EQ(b.height(), 2);
  EXPECT_EQ(b.palette(), (std::vector<PaletteEntry>{kRed, kBlue}));
  EXPECT_EQ(Indexes(b, 0), (std::vector<std::uint8_t>{0, 1, 0, 1, 0, 1, 0, 1, 1, 1}));
  EXPECT_EQ(Indexes(b, 1), (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(b.pixel(8, 0), kBlue);
}

TEST_F(BmpFiles, FourAndEightBitPalettesKeepOneIndexBytePerPixel) {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.bits = 4;
  s.colorsUsed = 3;
  s.palette = {kBlack, kGreen, kWhite};
  s.pixels = Rows({{0x21, 0x00}, {0x01, 0x20}});
  Bitmap four = Load(s);
  EXPECT_EQ(four.format(), PixelFormat::Indexed4);
  EXPECT_EQ(four.palette().size(), 3u);
  EXPECT_EQ(Indexes(four, 0), (std::vector<std::uint8_t>{0, 1, 2}));
  EXPECT_EQ(Indexes(four, 1), (std::vector<std::uint8_t>{2, 1, 0}));

  s.bits = 8;
  s.colorsUsed = 0;  // 0 means the full 256 entries
  s.palette.assign(256, kBlack);
  s.palette[200] = kGreen;
  s.pixels = Rows({{200, 0, 255}, {1, 2, 3}});
  Bitmap eight = Load(s);
  EXPECT_EQ(eight.format(), PixelFormat::Indexed8);
  EXPECT_EQ(eight.palette().size(), 256u);
  EXPECT_EQ(Indexes(eight, 0), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(Indexes(eight, 1), (std::vector<std::uint8_t>{200, 0, 255}));
  EXPECT_EQ(eight.pixel(0, 1), kGreen);
}

TEST_F(BmpFiles, TwentyFourBitRowsArePaddedAndMayRunTopDown) {
  BmpSpec s;
  s.width = 3;  // 9 bytes a row, padded to 12
  s.height = 2;
  s.pixels = Rows({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {11, 12, 13, 14, 15, 16, 17, 18, 19}});
  Bitmap bottomUp = Load(s);
  ASSERT_EQ(bottomUp.format(), PixelFormat::Bgr24);
  EXPECT_EQ(bottomUp.pixel(0, 1), (PaletteEntry{1, 2, 3}));
  EXPECT_EQ(bottomUp.pixel(2, 0), (PaletteEntry{17, 18, 19}));

  s.height = -2;
  Bitmap topDown = Load(s);
  ASSERT_EQ(topDown.height(), 2);
  EXPECT_EQ(topDown.pixel(0, 0), (PaletteEntry{1, 2, 3}));
  EXPECT_EQ(topDown.pixel(2, 1), (PaletteEntry{17, 18, 19}));

  // Newer header versions read the same.
  for (std::uint32_t size : {52u, 56u, 108u, 124u}) {
    s.headerSize = size;
    Bitmap longer = Load(s);
    EXPECT_EQ(longer.pixel(1, 1), (PaletteEntry{14, 15, 16})) << size;
  }
}

TEST_F(BmpFiles, ThirtyTwoBitsCarryTheFourthByte) {
  BmpSpec s;
  s.width = 2;
  s.height = 1;
  s.bits = 32;
  s.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Bgrx32);
  EXPECT_EQ(Bytes(b.row(0), b.row(0) + 8), s.pixels);

  // Standard masks read like plain data.
  s.compression = 3;
  s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  Bitmap masked = Load(s);
  EXPECT_EQ(Bytes(masked.row(0), masked.row(0) + 8), s.pixels);
}

TEST_F(BmpFiles, ThirtyTwoBitMasksInAVersionFourHeaderPlaceEachChannel) {
  BmpSpec s;
  s.headerSize = 108;
  s.width = 1;
  s.height = 1;
  s.bits = 32;
  s.compression = 3;
  s.masks = {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF};  // R, G, B, A
  s.pixels = {0x40, 0x30, 0x20, 0x10};                         // A, B, G, R
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Bgrx32);
  EXPECT_EQ(Bytes(b.row(0), b.row(0) + 4), (Bytes{0x30, 0x20, 0x10, 0x40}));
}

TEST_F(BmpFiles, SixteenBitsBecomeTwentyFourWithScaledChannels) {
  BmpSpec s;
  s.width = 3;
  s.height = 1;
  s.bits = 16;
  // Default 5-5-5: white, pure red, blue at 16 of 31.
  s.pixels = Rows({{0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00}});
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  EXPECT_EQ(b.pixel(0, 0), kWhite);
  EXPECT_EQ(b.pixel(1, 0), kRed);
  EXPECT_EQ(b.pixel(2, 0), (PaletteEntry{132, 0, 0}));

  // 5-6-5 masks after a 40-byte header: green has six bits.
  s.compression = 3;
  s.masks = {0xF800, 0x07E0, 0x001F};
  s.pixels = Rows({{0x00, 0xF8, 0xE0, 0x07, 0x00, 0x04}});
  Bitmap m = Load(s);
  EXPECT_EQ(m.pixel(0, 0), kRed);
  EXPECT_EQ(m.pixel(1, 0), kGreen);
  EXPECT_EQ(m.pixel(2, 0), (PaletteEntry{0, 130, 0}));
}

TEST_F(BmpFiles, Rle8RunsAbsoluteRunsDeltasAndLineEnds) {
  BmpSpec s;
  s.width = 6;
  s.height = 3;
  s.bits = 8;
  s.compression = 1;
  s.colorsUsed = 8;
  s.palette.assign(8, kBlack);
  s.pixels = {
      3, 5, 0, 3, 1, 2, 3, 0,  // bottom row: run of three 5s, absolute 1 2 3 (+ pad)
      0, 0,                    // end of line
      0, 2, 4, 1,              // delta: four right, one up (skips the middle row)
      2, 7,                    // top row: 7 7 at x = 4
      0, 1,                    // end of bitmap
  };
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Indexed8);
  EXPECT_EQ(Indexes(b, 2), (std::vector<std::uint8_t>{5, 5, 5, 1, 2, 3}));
  EXPECT_EQ(Indexes(b, 1), (std::vector<std::uint8_t>(6, 0)));  // skipped pixels are 0
  EXPECT_EQ(Indexes(b, 0), (std::vector<std::uint8_t>{0, 0, 0, 0, 7, 7}));
}

TEST_F(BmpFiles, Rle4AlternatesNibblesAndPadsAbsoluteRunsToWords) {
  BmpSpec s;
  s.width = 7;
  s.height = 2;
  s.bits = 4;
  s.compression = 2;
  s.palette.assign(16, kBlack);
  s.pixels = {
      5, 0x12,                       // 1 2 1 2 1
      0, 0,                          // end of line
      0, 5,    0x34, 0x56, 0x70, 0,  // absolute 3 4 5 6 7: three bytes, padded to four
      2, 0x88,                       // 8 8
      0, 1,
  };
  Bitmap b = Load(s);
  ASSERT_EQ(b.format(), PixelFormat::Indexed4);
  EXPECT_EQ(Indexes(b, 1), (std::vector<std::uint8_t>{1, 2, 1, 2, 1, 0, 0}));
  EXPECT_EQ(Indexes(b, 0), (std::vector<std::uint8_t>{3, 4, 5, 6, 7, 8, 8}));
}

TEST_F(BmpFiles, TwoBitPalettesReadAsFourBitFormat) {
  BmpSpec s;
  s.width = 5;
  s.height = 1;
  s.bits = 2;
  s.palette = {kBlack, kRed, kGreen, kBlue};
  s.pixels = Rows({{0b00011011, 0b10000000}});
  Bitmap b = Load(s);
  EXPECT_EQ(b.format(), PixelFormat::Indexed4);
  EXPECT_EQ(Indexes(b, 0), (std::vector<std::uint8_t>{0, 1, 2, 3, 2}));
}

TEST_F(BmpFiles, MissingFilesAndFoldersAreErrorsNamingThem) {
  Bitmap b;
  for (const std::string& name : {folder_.file("none.bmp"), folder_.file("")}) {
    try {
      ReadBmpFile(name, b);
      ADD_FAILURE() << "no error for " << name;
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

// --- Hostile input -------------------------------------------------------

void ExpectInvalid(const Bytes& bytes) {
  Bitmap b;
  try {
    DecodeBmp(bytes.data(), bytes.size(), b);
    ADD_FAILURE() << "accepted";
  } catch (const CodecError& e) {
    EXPECT_STREQ(e.what(), "ビットマップイメージが不正です");
  }
}

// 8 pixels wide, so rows have no padding and every cut removes pixels.
BmpSpec Valid8() {
  BmpSpec s;
  s.width = 8;
  s.height = 3;
  s.bits = 8;
  s.palette.assign(256, kBlack);
  s.pixels.assign(8 * 3, 1);
  return s;
}

BmpSpec ValidRle8() {
  BmpSpec s = Valid8();
  s.width = 5;
  s.compression = 1;
  s.pixels = {5, 1, 0, 0, 5, 2, 0, 0, 2, 3, 0, 3, 4, 4, 4, 0, 0, 1};
  return s;
}

TEST(BmpHostile, EveryTruncationOfAValidFileIsRejected) {
  for (const BmpSpec& s : {Valid8(), ValidRle8()}) {
    const Bytes full = BuildBmp(s);
    Bitmap ok;
    ASSERT_NO_THROW(DecodeBmp(full.data(), full.size(), ok));
    for (std::size_t n = 0; n < full.size(); ++n) {
      SCOPED_TRACE(n);
      ExpectInvalid(Bytes(full.begin(), full.begin() + n));
    }
  }
}

TEST(BmpHostile, BadHeadersAreRejected) {
  auto with = [](auto change) {
    BmpSpec s = Valid8();
    change(s);
    return BuildBmp(s);
  };
  ExpectInvalid(with([](BmpSpec& s) { s.planes = 2; }));
  ExpectInvalid(with([](BmpSpec& s) { s.bits = 7; }));
  ExpectInvalid(with([](BmpSpec& s) { s.width = -5; }));
  ExpectInvalid(with([](BmpSpec& s) { s.compression = 4; }));  // embedded JPEG
  ExpectInvalid(with([](BmpSpec& s) {
    s.bits = 24;
    s.compression = 3;  // bit fields only at 16 and 32 bits
    s.masks = {0xFF0000, 0xFF00, 0xFF};
  }));
  ExpectInvalid(with([](BmpSpec& s) {
    s.bits = 16;
    s.compression = 3;
    s.masks = {0xF00F, 0x00F0, 0x0F00};  // red is not one run of bits
    s.pixels.assign(16 * 3, 0);
  }));
  ExpectInvalid(with([](BmpSpec& s) {
    s.compression = 1;  // RLE cannot run top-down
    s.height = -3;
  }));
  // Header sizes between the core and the information header, and one that
  // runs past the end of the file.
  Bytes b = BuildBmp(Valid8());
  Put32(b, 14, 20);
  ExpectInvalid(b);
  Put32(b, 14, 0xFFFFFFF0u);
  ExpectInvalid(b);
}

TEST(BmpHostile, HugeAndOverflowingSizesAreRejectedBeforeAllocating) {
  struct Size {
    std::int32_t w, h;
    std::uint16_t bits;
  };
  const Size sizes[] = {{0x7FFFFFFF, 1, 24},
                        {1, INT32_MIN, 24},
                        {-1, -1, 24},
                        {65536, 65536, 32},
                        {200000, 200000, 1},
                        {70000, 70000, 8},
                        // allowed as a bitmap, but the file holds none of its pixels
                        {65536, 65536, 1}};
  for (const Size& size : sizes) {
    BmpSpec s = Valid8();
    s.width = size.w;
    s.height = size.h;
    s.bits = size.bits;
    if (size.bits > 8) s.palette.clear();
    SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h));
    ExpectInvalid(BuildBmp(s));
  }
  // A few RLE bytes may not claim a huge picture.
  BmpSpec rle = ValidRle8();
  rle.width = 60000;
  rle.height = 60000;
  rle.pixels = {0, 1};
  ExpectInvalid(BuildBmp(rle));
}

TEST(BmpHostile, OffsetsOutsideTheFileOrIntoTheHeaderAreRejected) {
  Bytes b = BuildBmp(Valid8());
  Put32(b, 10, static_cast<std::uint32_t>(b.size()) + 100);
  ExpectInvalid(b);
  Put32(b, 10, 0xFFFFFFFFu);
  ExpectInvalid(b);
  Put32(b, 10, 20);  // inside the information header
  ExpectInvalid(b);
}

TEST(BmpHostile, PaletteIndexesBeyondThePaletteAreRejected) {
  BmpSpec s = Valid8();
  s.colorsUsed = 2;
  s.palette.assign(2, kBlack);  // pixels are all 1: fine
  Bitmap b;
  const Bytes ok = BuildBmp(s);
  EXPECT_NO_THROW(DecodeBmp(ok.data(), ok.size(), b));
  s.pixels[9] = 2;
  ExpectInvalid(BuildBmp(s));
  s = ValidRle8();
  s.colorsUsed = 4;
  s.palette.assign(4, kBlack);
  s.pixels[1] = 9;  // the first run
  ExpectInvalid(BuildBmp(s));
}

TEST(BmpHostile, RleStreamsThatOverrunTheBitmapAreRejected) {
  auto rle = [](Bytes stream, int bits = 8) {
    BmpSpec s = Valid8();
    s.width = 5;
    s.compression = bits == 8 ? 1 : 2;
    s.bits = static_cast<std::uint16_t>(bits);
    s.palette.assign(std::size_t{1} << bits, kBlack);
    s.pixels = std::move(stream);
    return BuildBmp(s);
  };
  // The image is 5 × 3.
  ExpectInvalid(rle({6, 1, 0, 1}));                    // run past the row end
  ExpectInvalid(rle({3, 1, 3, 1, 0, 1}));              // second run crosses the row end
  ExpectInvalid(rle({0, 6, 1, 1, 1, 1, 1, 1, 0, 1}));  // absolute run too long
  ExpectInvalid(rle({0, 2, 0, 4, 1, 1, 0, 1}));        // delta above the top row
  ExpectInvalid(rle({0, 2, 9, 0, 0, 1}));              // delta past the row end
  ExpectInvalid(rle({0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));  // one line end too many
  ExpectInvalid(rle({0, 0, 0, 0, 0, 0, 1, 1, 0, 1}));  // pixels after the top row
  ExpectInvalid(rle({0, 5, 1, 1}));                    // absolute run cut off by the end
  ExpectInvalid(rle({2, 1, 0, 0}));                    // stream ends before the image
  ExpectInvalid(rle({6, 0x11, 0, 1}, 4));
  ExpectInvalid(rle({0, 7, 0x11, 0x11, 0x11, 0x10, 0, 1}, 4));
}

TEST(BmpHostile, RandomDamageNeverEscapesAsAnythingButCodecError) {
  std::mt19937 rng(1234);
  for (const BmpSpec& s : {Valid8(), ValidRle8()}) {
    const Bytes clean = BuildBmp(s);
    for (int round = 0; round < 3000; ++round) {
      Bytes b = clean;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < flips; ++i) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
      Bitmap out;
      try {
        DecodeBmp(b.data(), b.size(), out);
      } catch (const CodecError&) {
      }
    }
  }
}

// --- Writer --------------------------------------------------------------

Bitmap Gradient(int w, int h, PixelFormat format = PixelFormat::Bgr24) {
  Bitmap b(w, h, format);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += b.bytesPerPixel()) {
      p[0] = static_cast<std::uint8_t>(x * 7 + y);
      p[1] = static_cast<std::uint8_t>(y * 13);
      p[2] = static_cast<std::uint8_t>(x ^ y);
      if (format == PixelFormat::Bgrx32) p[3] = 0xAB;
    }
  }
  return b;
}

void ExpectSameColours(const Bitmap& a, const Bitmap& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) ASSERT_EQ(a.pixel(x, y), b.pixel(x, y)) << x << ", " << y;
}

TEST_F(BmpFiles, WriterProducesAPaddedBottomUpTwentyFourBitFile) {
  const std::string name = folder_.file("out.bmp");
  Bitmap src = Gradient(3, 2);
  SaveBitmapAsBmp(name, src);
  const Bytes file = ReadAll(name);
  ASSERT_EQ(file.size(), 54u + 12 * 2);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(file[10], 54);
  EXPECT_EQ(file[28], 24);  // bits per pixel
  EXPECT_EQ(file[30], 0);   // uncompressed
  EXPECT_EQ(file[22], 2);   // positive height: bottom-up
  // The first stored row is the bottom one, then three padding zeros.
  Bytes bottom(src.row(1), src.row(1) + 9);
  bottom.resize(12, 0);
  EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 66), bottom);

  Bitmap back;
  ReadBmpFile(name, back);
  EXPECT_EQ(back.format(), PixelFormat::Bgr24);
  ExpectSameColours(src, back);
}

TEST_F(BmpFiles, WriterDropsTheFourthByteAndExpandsPalettes) {
  const std::string name = folder_.file("out.bmp");
  Bitmap wide = Gradient(7, 5, PixelFormat::Bgrx32);
  SaveBitmapAsBmp(name, wide);
  Bitmap back;
  ReadBmpFile(name, back);
  EXPECT_EQ(back.format(), PixelFormat::Bgr24);
  ExpectSameColours(wide, back);

  Bitmap indexed(4, 3, PixelFormat::Indexed8);
  indexed.setPalette({kRed, kGreen, kBlue});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) indexed.row(y)[x] = static_cast<std::uint8_t>((x + y) % 3);
  SaveBitmapAsBmp(name, indexed);
  ReadBmpFile(name, back);
  EXPECT_EQ(back.format(), PixelFormat::Bgr24);
  ExpectSameColours(indexed, back);
}

TEST_F(BmpFiles, EmptyBitmapIsWrittenAsAHeaderOnlyFileThatReadsBackAsRefused) {
  const std::string name = folder_.file("empty.bmp");
  SaveBitmapAsBmp(name, Bitmap());
  EXPECT_EQ(fs::file_size(name), 54u);
  Bitmap back(3, 3);
  EXPECT_THROW(ReadBmpFile(name, back), CodecError);
  EXPECT_EQ(back.width(), 3);
}

TEST_F(BmpFiles, WriterReplacesALargerFileCompletely) {
  const std::string name = folder_.file("out.bmp");
  WriteFile(name, Bytes(10000, 0xEE));
  SaveBitmapAsBmp(name, Gradient(2, 2));
  EXPECT_EQ(fs::file_size(name), 54u + 8 * 2);
}

TEST_F(BmpFiles, WriterFailuresAreFileErrors) {
  const std::string missing = folder_.file("no/such/folder/out.bmp");
  try {
    SaveBitmapAsBmp(missing, Gradient(2, 2));
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("を作成できません。"), std::string::npos);
  }
  if (fs::exists("/dev/full")) {
    EXPECT_THROW(SaveBitmapAsBmp("/dev/full", Gradient(64, 64)), FileError);
    EXPECT_TRUE(fs::exists("/dev/full"));
  }
}

}  // namespace
}  // namespace skyfold
