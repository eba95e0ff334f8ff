// JPEG reading and writing: files written by SaveBitmapAsJpeg (or by libjpeg
// directly, for grey and progressive inputs) in a temporary folder, decoded
// back and inspected byte by byte where the format matters.
#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFileBytes(const std::string& fileName) {
  const auto chars = test::ReadBytes(fileName);
  return Bytes(chars.begin(), chars.end());
}

void WriteFileBytes(const std::string& fileName, const Bytes& bytes) {
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Smooth colour gradients: what quality 100 must reproduce almost exactly.
Bitmap SmoothImage(int width, int height) {
  Bitmap b(width, height, PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      test::SetPixel(b, x, y, static_cast<std::uint8_t>(40 + x * 150 / width),
                     static_cast<std::uint8_t>(30 + y * 180 / height),
                     static_cast<std::uint8_t>(200 - (x + y) * 100 / (width + height)));
    }
  }
  return b;
}

int MaxDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const PaletteEntry p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max({worst, std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)});
    }
  }
  return worst;
}

// Encodes raw samples with libjpeg itself, for inputs our writer never makes.
Bytes EncodeWithLibjpeg(int width, int height, int components, const Bytes& samples,
                        bool progressive) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples.data()) +
                   std::size_t{cinfo.next_scanline} * width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

// Position of the first marker FF code at or after from, or npos.
std::size_t FindMarker(const Bytes& b, std::uint8_t code, std::size_t from = 2) {
  for (std::size_t i = from; i + 1 < b.size(); ++i) {
    if (b[i] == 0xFF && b[i + 1] == code) return i;
  }
  return std::string::npos;
}

void ExpectJpegError(const Bytes& bytes) {
  Bitmap b;
  try {
    DecodeJpeg(bytes.data(), bytes.size(), b);
    FAIL() << "no error";
  } catch (const CodecError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("JPEG エラー #", 0), 0u) << e.what();
  }
}

TEST(JpegWriteRead, QualityHundredKeepsASmoothImageWithinAFewLevels) {
  TempDir dir;
  const Bitmap original = SmoothImage(96, 48);
  SaveBitmapAsJpeg(dir.file("smooth.jpg"), original, 100);

  Bitmap loaded;
  ReadJpegFile(dir.file("smooth.jpg"), loaded);
  ASSERT_EQ(loaded.format(), PixelFormat::Bgr24);
  ASSERT_EQ(loaded.width(), 96);
  ASSERT_EQ(loaded.height(), 48);
  EXPECT_LE(MaxDifference(original, loaded), 4);

  // The same bytes decode the same from memory.
  const Bytes bytes = ReadFileBytes(dir.file("smooth.jpg"));
  Bitmap fromMemory;
  DecodeJpeg(bytes.data(), bytes.size(), fromMemory);
  EXPECT_EQ(MaxDifference(loaded, fromMemory), 0);
}

// A preview's decode at 1/2, 1/4, 1/8: the size rounded up, each pixel the
// colour of the part of the picture it stands for.
TEST(JpegRead, AScaledDecodeGivesTheReducedPicture) {
  TempDir dir;
  const Bitmap original = SmoothImage(100, 52);
  SaveBitmapAsJpeg(dir.file("smooth.jpg"), original, 100);
  for (int denom : {2, 4, 8}) {
    DecodeContext context;
    context.scaleDenom = denom;
    Bitmap small;
    ReadJpegFile(dir.file("smooth.jpg"), small, nullptr, context);
    ASSERT_EQ(small.width(), (100 + denom - 1) / denom) << denom;
    ASSERT_EQ(small.height(), (52 + denom - 1) / denom) << denom;
    Bitmap sampled(small.width(), small.height(), PixelFormat::Bgr24);
    for (int y = 0; y < small.height(); ++y) {
      for (int x = 0; x < small.width(); ++x) {
        const PaletteEntry p = original.pixel(std::min(99, x * denom + denom / 2),
                                              std::min(51, y * denom + denom / 2));
        test::SetPixel(sampled, x, y, p.b, p.g, p.r);
      }
    }
    EXPECT_LE(MaxDifference(sampled, small), 8) << denom;
  }
}

TEST(JpegWriteRead, FourByteAndPaletteBitmapsEncodeTheirColours) {
  TempDir dir;
  const Bitmap reference = SmoothImage(64, 32);
  SaveBitmapAsJpeg(dir.file("ref.jpg"), reference);
  Bitmap expected;
  ReadJpegFile(dir.file("ref.jpg"), expected);

  // Bgrx32: the fourth byte is ignored.
  Bitmap wide(64, 32, PixelFormat::Bgrx32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      const PaletteEntry c = reference.pixel(x, y);
      std::uint8_t* p = wide.row(y) + x * 4;
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = static_cast<std::uint8_t>(x * 13 + y);
    }
  }
  SaveBitmapAsJpeg(dir.file("wide.jpg"), wide);
  Bitmap got;
  ReadJpegFile(dir.file("wide.jpg"), got);
  EXPECT_EQ(MaxDifference(expected, got), 0);

  // A palette bitmap is expanded through its palette; an index past the
  // palette reads black instead of outside it.
  Bitmap indexed(16, 16, PixelFormat::Indexed8);
  indexed.setPalette({{0, 0, 255}, {255, 0, 0}});
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) indexed.row(y)[x] = x < 8 ? 0 : (y < 8 ? 1 : 200);
  }
  SaveBitmapAsJpeg(dir.file("indexed.jpg"), indexed);
  ReadJpegFile(dir.file("indexed.jpg"), got);
  const PaletteEntry red = got.pixel(2, 2), blue = got.pixel(13, 2), black = got.pixel(13, 13);
  EXPECT_GT(red.r, 230);
  EXPECT_LT(red.b, 25);
  EXPECT_GT(blue.b, 230);
  EXPECT_LT(blue.r, 25);
  EXPECT_LT(black.r + black.g + black.b, 40);
}

TEST(JpegWriteRead, WrittenFileIsBaselineJfifWithFullQualityAndTwoByTwoLuma) {
  TempDir dir;
  SaveBitmapAsJpeg(dir.file("f.jpg"), SmoothImage(40, 24), 100);
  const Bytes b = ReadFileBytes(dir.file("f.jpg"));
  ASSERT_GT(b.size(), 20u);
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[1], 0xD8);
  // APP0 "JFIF\0" right after SOI.
  EXPECT_EQ(b[2], 0xFF);
  EXPECT_EQ(b[3], 0xE0);
  EXPECT_EQ(std::string(b.begin() + 6, b.begin() + 11), std::string("JFIF\0", 5));
  // Baseline SOF0, never progressive SOF2 or extended SOF1.
  const std::size_t sof = FindMarker(b, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ(FindMarker(b, 0xC2), std::string::npos);
  EXPECT_EQ(FindMarker(b, 0xC1), std::string::npos);
  EXPECT_EQ(b[sof + 4], 8);  // precision
  EXPECT_EQ((b[sof + 5] << 8) | b[sof + 6], 24);
  EXPECT_EQ((b[sof + 7] << 8) | b[sof + 8], 40);
  ASSERT_EQ(b[sof + 9], 3);
  EXPECT_EQ(b[sof + 11], 0x22);  // Y: 2×2
  EXPECT_EQ(b[sof + 14], 0x11);  // Cb
  EXPECT_EQ(b[sof + 17], 0x11);  // Cr
  // Quality 100 gives quantization tables of ones.
  const std::size_t dqt = FindMarker(b, 0xDB);
  ASSERT_NE(dqt, std::string::npos);
  const int length = (b[dqt + 2] << 8) | b[dqt + 3];
  for (int i = 5; i < 5 + 64; ++i) EXPECT_EQ(b[dqt + i], 1) << "entry " << i - 5;
  EXPECT_GE(length, 67);
}

TEST(JpegRead, GreyJpegGivesAPaletteOfAtMost236GreysCloseToTheSource) {
  const int w = 128, h = 32;
  Bytes grey(std::size_t{w} * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      grey[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(x * 2);
  }
  const Bytes jpeg = EncodeWithLibjpeg(w, h, 1, grey, false);
  Bitmap b;
  DecodeJpeg(jpeg.data(), jpeg.size(), b);
  ASSERT_EQ(b.format(), PixelFormat::Indexed8);
  ASSERT_EQ(b.width(), w);
  ASSERT_LE(b.palette().size(), 236u);
  ASSERT_GE(b.palette().size(), 100u);
  std::set<int> used;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int index = b.row(y)[x];
      ASSERT_LT(index, static_cast<int>(b.palette().size()));
      used.insert(index);
      const PaletteEntry c = b.palette()[index];
      EXPECT_EQ(c.r, c.g);
      EXPECT_EQ(c.g, c.b);
      EXPECT_NEAR(c.r, x * 2, 8) << x << "," << y;
    }
  }
  EXPECT_GT(used.size(), 60u);
}

TEST(JpegRead, ProgressiveColourJpegDecodes) {
  const int w = 48, h = 40;
  Bytes rgb(std::size_t{w} * h * 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = 200, rgb[i + 1] = 100, rgb[i + 2] = 50;  // R, G, B
  }
  const Bytes jpeg = EncodeWithLibjpeg(w, h, 3, rgb, true);
  ASSERT_NE(FindMarker(jpeg, 0xC2), std::string::npos);
  Bitmap b;
  DecodeJpeg(jpeg.data(), jpeg.size(), b);
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  const PaletteEntry c = b.pixel(20, 20);
  EXPECT_NEAR(c.r, 200, 3);
  EXPECT_NEAR(c.g, 100, 3);
  EXPECT_NEAR(c.b, 50, 3);
}

TEST(JpegRead, TruncatedDataIsAWarningAndDecodingGoesOn) {
  TempDir dir;
  const Bitmap original = SmoothImage(64, 64);
  SaveBitmapAsJpeg(dir.file("full.jpg"), original);
  Bytes b = ReadFileBytes(dir.file("full.jpg"));
  b.resize(b.size() * 2 / 3);

  Bitmap loaded;
  ASSERT_NO_THROW(DecodeJpeg(b.data(), b.size(), loaded));
  ASSERT_EQ(loaded.width(), 64);
  ASSERT_EQ(loaded.height(), 64);
  // The rows that were still in the file are intact.
  const PaletteEntry top = loaded.pixel(10, 2), want = original.pixel(10, 2);
  EXPECT_NEAR(top.g, want.g, 4);

  // The same through a file.
  {
    std::FILE* f = std::fopen(dir.file("cut.jpg").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
  ASSERT_NO_THROW(ReadJpegFile(dir.file("cut.jpg"), loaded));
  EXPECT_EQ(loaded.width(), 64);
}

TEST(JpegRead, FatalLibraryErrorsCarryTheMessageCode) {
  // Garbage after SOI.
  ExpectJpegError({0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x00, 0x11});
  // Not a JPEG at all, and nothing at all.
  ExpectJpegError({'B', 'M', 0, 0, 0, 0});
  ExpectJpegError({});

  TempDir dir;
  SaveBitmapAsJpeg(dir.file("ok.jpg"), SmoothImage(16, 16));
  const Bytes good = ReadFileBytes(dir.file("ok.jpg"));
  const std::size_t sof = FindMarker(good, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  // A header announcing a zero height.
  Bytes bad = good;
  bad[sof + 5] = 0, bad[sof + 6] = 0;
  ExpectJpegError(bad);
  bad = good;
  bad[sof + 4] = 12;  // 12-bit samples, which this build cannot decode
  ExpectJpegError(bad);
}

TEST(JpegRead, SizeComesFromTheHeaderAndAnythingElseIsNoSize) {
  TempDir dir;
  SaveBitmapAsJpeg(dir.file("a.jpg"), SmoothImage(400, 240));
  int w = 0, h = 0;
  ASSERT_TRUE(ReadJpegSize(dir.file("a.jpg"), w, h));
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 240);
  Bytes b = ReadFileBytes(dir.file("a.jpg"));
  b.resize(b.size() / 2);  // the header is all it needs
  WriteFileBytes(dir.file("half.jpg"), b);
  EXPECT_TRUE(ReadJpegSize(dir.file("half.jpg"), w, h));
  WriteFileBytes(dir.file("text.jpg"), Bytes{'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
  EXPECT_FALSE(ReadJpegSize(dir.file("text.jpg"), w, h));
  EXPECT_FALSE(ReadJpegSize(dir.file("missing.jpg"), w, h));
  EXPECT_FALSE(ReadJpegSize(dir.path(), w, h));
}

TEST(JpegRead, AbsurdHeaderSizeIsRefusedBeforeAllocation) {
  TempDir dir;
  SaveBitmapAsJpeg(dir.file("ok.jpg"), SmoothImage(16, 16));
  Bytes b = ReadFileBytes(dir.file("ok.jpg"));
  const std::size_t sof = FindMarker(b, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  b[sof + 5] = 0xFD, b[sof + 6] = 0xE8;  // 65000 × 65000 × 3 bytes
  b[sof + 7] = 0xFD, b[sof + 8] = 0xE8;
  Bitmap loaded(3, 3);
  EXPECT_THROW(DecodeJpeg(b.data(), b.size(), loaded), MemoryError);
  EXPECT_EQ(loaded.width(), 3);  // left as it was
}

TEST(JpegWrite, FailuresAreFileErrorsAndLeaveNoFile) {
  TempDir dir;
  const Bitmap image = SmoothImage(32, 16);
  const std::string missing = dir.file("no-such-folder/out.jpg");
  try {
    SaveBitmapAsJpeg(missing, image);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("を作成できません。"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }

  // A full disk: the write failure is reported as a file error, never as
  // success and never as a codec error.
  if (std::filesystem::exists("/dev/full")) {
    try {
      // Textured, so the data passes through several 64 KB chunks.
      SaveBitmapAsJpeg("/dev/full", test::DrawTexturedPanorama(512));
      FAIL() << "writing to a full device succeeded";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
    }
  }

  // An empty bitmap is a library error and leaves no half-written file.
  EXPECT_THROW(SaveBitmapAsJpeg(dir.file("empty.jpg"), Bitmap()), CodecError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("empty.jpg")));
}

}  // namespace
}  // namespace skyfold
