// The fixed-layout TIFF writer: byte-exact files for small images, and every
// file read back through libtiff to the same pixels and fields.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/Errors.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using TempFolder = test::TempDir;

Bytes ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void Set(Bitmap& b, int x, int y, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  std::uint8_t* p = b.row(y) + x * b.bytesPerPixel();
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

Bitmap Random(int w, int h, PixelFormat format, unsigned seed) {
  std::mt19937 rng(seed);
  Bitmap b(w, h, format);
  for (std::size_t i = 0; i < b.byteSize(); ++i) b.data()[i] = static_cast<std::uint8_t>(rng());
  return b;
}

// The expected file for a W × H image, assembled field by field from the
// layout's tables.
Bytes ExpectedTiff(std::uint32_t w, std::uint32_t h, const Bytes& rgb) {
  Bytes f;
  auto u16 = [&](std::uint32_t v) { f.insert(f.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const std::uint32_t dir = 40 + 3 * w * h;
  f.insert(f.end(), {'I', 'I'});
  u16(42);
  u32(dir);
  u32(877), u32(10), u32(877), u32(10);
  u16(8), u16(8), u16(8);
  for (char c : std::string("Vemri soft")) f.push_back(static_cast<std::uint8_t>(c));
  f.insert(f.end(), rgb.begin(), rgb.end());
  u16(15);
  auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t v) {
    u16(tag), u16(type), u32(count), u32(v);
  };
  entry(254, 4, 1, 0);
  entry(256, 3, 1, w);
  entry(257, 3, 1, h);
  entry(258, 3, 3, 24);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, 1, 40);
  entry(277, 3, 1, 3);
  entry(278, 4, 1, h);
  entry(279, 4, 1, 3 * w * h);
  entry(282, 5, 1, 8);
  entry(283, 5, 1, 16);
  entry(284, 3, 1, 1);
  entry(296, 3, 1, 2);
  entry(305, 2, 10, 30);
  u32(0);
  return f;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

// Reads a file we wrote through libtiff and compares every field we rely on
// and every pixel with the bitmap.
void ExpectLibTiffReads(const std::string& name, const Bitmap& bitmap) {
  TIFFSetWarningHandler(nullptr);  // the Software text has no NUL on purpose
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(name.c_str(), "r"));
  ASSERT_TRUE(tif);
  std::uint32_t w = 0, h = 0;
  std::uint16_t spp = 0, bps = 0, photometric = 0, unit = 0;
  float xres = 0, yres = 0;
  char* software = nullptr;
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xres));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit));
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_SOFTWARE, &software));
  EXPECT_EQ(w, static_cast<std::uint32_t>(bitmap.width()));
  EXPECT_EQ(h, static_cast<std::uint32_t>(bitmap.height()));
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(bps, 8);
  EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
  EXPECT_FLOAT_EQ(xres, 87.7f);
  EXPECT_FLOAT_EQ(yres, 87.7f);
  EXPECT_EQ(unit, RESUNIT_INCH);
  EXPECT_EQ(std::string(software).substr(0, 10), "Vemri soft");
  EXPECT_FALSE(TIFFReadDirectory(tif.get()));  // one image only
  TIFFSetDirectory(tif.get(), 0);
  Bytes line(static_cast<std::size_t>(TIFFScanlineSize(tif.get())));
  for (int y = 0; y < bitmap.height(); ++y) {
    ASSERT_EQ(TIFFReadScanline(tif.get(), line.data(), static_cast<std::uint32_t>(y)), 1);
    for (int x = 0; x < bitmap.width(); ++x) {
      const PaletteEntry c = bitmap.pixel(x, y);
      ASSERT_EQ(line[3 * x], c.r) << x << ", " << y;
      ASSERT_EQ(line[3 * x + 1], c.g);
      ASSERT_EQ(line[3 * x + 2], c.b);
    }
  }
}

class TiffWriter : public ::testing::Test {
 protected:
  Bytes Save(const Bitmap& bitmap, const std::string& name = "out.tif") {
    const std::string file = folder_.file(name);
    SaveBitmapAsTiff(file, bitmap);
    return ReadAll(file);
  }
  TempFolder folder_;
};

TEST_F(TiffWriter, TwoByTwoFileMatchesTheLayoutByteForByte) {
  Bitmap b(2, 2);
  Set(b, 0, 0, 1, 2, 3);
  Set(b, 1, 0, 4, 5, 6);
  Set(b, 0, 1, 7, 8, 9);
  Set(b, 1, 1, 10, 11, 12);
  const Bytes file = Save(b);
  ASSERT_EQ(file.size(), 238u);
  EXPECT_EQ(U32(file, 4), 52u);
  // Top row first, each pixel R, G, B.
  EXPECT_EQ(Bytes(file.begin() + 40, file.begin() + 52),
            (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
  EXPECT_EQ(file, ExpectedTiff(2, 2, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
  ExpectLibTiffReads(folder_.file("out.tif"), b);
}

TEST_F(TiffWriter, OddPixelDataPutsTheDirectoryAtAnOddOffsetWithoutPadding) {
  Bitmap b(3, 1);
  Set(b, 0, 0, 255, 0, 0);  // pure blue
  Set(b, 1, 0, 0, 255, 0);
  Set(b, 2, 0, 0, 0, 255);
  const Bytes file = Save(b);
  ASSERT_EQ(file.size(), 235u);
  EXPECT_EQ(U32(file, 4), 49u);
  EXPECT_EQ(file[49], 15);  // entry count straight after the pixels
  EXPECT_EQ(file, ExpectedTiff(3, 1, {0, 0, 255, 0, 255, 0, 255, 0, 0}));
  ExpectLibTiffReads(folder_.file("out.tif"), b);
}

TEST_F(TiffWriter, ThirtyTwoBitsGiveTheSameFileAsTwentyFour) {
  Bitmap wide = Random(5, 3, PixelFormat::Bgrx32, 7);
  Bitmap narrow(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const PaletteEntry c = wide.pixel(x, y);
      Set(narrow, x, y, c.b, c.g, c.r);
    }
  EXPECT_EQ(Save(wide, "a.tif"), Save(narrow, "b.tif"));
}

TEST_F(TiffWriter, PaletteBitmapsAreExpandedToRgb) {
  Bitmap b(3, 2, PixelFormat::Indexed8);
  b.setPalette({{10, 20, 30}, {40, 50, 60}});
  b.row(0)[1] = 1;
  b.row(1)[2] = 1;
  Save(b);
  ExpectLibTiffReads(folder_.file("out.tif"), b);
}

TEST_F(TiffWriter, LibTiffReadsBackAssortedSizes) {
  for (auto [w, h] : {std::pair{1, 1}, {17, 9}, {64, 3}, {5, 31}}) {
    Bitmap b = Random(w, h, PixelFormat::Bgr24, static_cast<unsigned>(w * 100 + h));
    const Bytes file = Save(b);
    EXPECT_EQ(file.size(), 226u + 3u * w * h);
    ExpectLibTiffReads(folder_.file("out.tif"), b);
  }
}

TEST_F(TiffWriter, EmptyBitmapLeavesAnEmptyFileEvenOverAnOldOne) {
  const std::string name = folder_.file("out.tif");
  std::ofstream(name) << std::string(5000, 'x');
  SaveBitmapAsTiff(name, Bitmap());
  EXPECT_TRUE(fs::exists(name));
  EXPECT_EQ(fs::file_size(name), 0u);
}

TEST_F(TiffWriter, OverwritingALargerFileLeavesNoOldBytes) {
  const std::string name = folder_.file("out.tif");
  std::ofstream(name) << std::string(100000, 'x');
  Bitmap b = Random(4, 4, PixelFormat::Bgr24, 3);
  SaveBitmapAsTiff(name, b);
  EXPECT_EQ(fs::file_size(name), 226u + 48u);
  ExpectLibTiffReads(name, b);
}

TEST_F(TiffWriter, StreamFormGivesTheSameBytesAndStopsAfterThePatch) {
  Bitmap b = Random(6, 5, PixelFormat::Bgr24, 11);
  std::stringstream stream;
  WriteBitmapAsTiff(stream, b);
  EXPECT_EQ(stream.tellp(), 8);
  const std::string text = stream.str();
  EXPECT_EQ(Bytes(text.begin(), text.end()), Save(b));
}

TEST_F(TiffWriter, SizesTheShortFieldsCannotHoldAreRefusedAndTheOldFileKept) {
  const std::string name = folder_.file("out.tif");
  std::ofstream(name) << "old";
  Bitmap tooWide(65536, 1);
  EXPECT_THROW(SaveBitmapAsTiff(name, tooWide), FileError);
  EXPECT_EQ(fs::file_size(name), 3u);
  std::stringstream stream;
  EXPECT_THROW(WriteBitmapAsTiff(stream, Bitmap(1, 65536)), ArgumentError);
  EXPECT_TRUE(stream.str().empty());
  // The largest representable side still works.
  Bitmap edge(65535, 1);
  SaveBitmapAsTiff(name, edge);
  EXPECT_EQ(fs::file_size(name), 226u + 3u * 65535u);
}

TEST_F(TiffWriter, FailuresAreReportedNotSwallowed) {
  const std::string missing = folder_.file("missing/out.tif");
  try {
    SaveBitmapAsTiff(missing, Bitmap(2, 2));
    FAIL() << "no error";
  } catch (const FileError& e) {
    const std::string expected =
        "ファイル \"" + missing + "\" を作成できません。" + std::strerror(ENOENT);
    EXPECT_EQ(e.what(), expected);
  }
  if (fs::exists("/dev/full")) {
    EXPECT_THROW(SaveBitmapAsTiff("/dev/full", Bitmap(8, 8)), FileError);
    EXPECT_THROW(SaveBitmapAsTiff("/dev/full", Bitmap(200, 200)), FileError);
  }
}

}  // namespace
}  // namespace skyfold
