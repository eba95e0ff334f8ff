// The decoders behind ".TIF" names. TIFF files of many layouts are written
// here with libtiff (byte orders, compressions, strips and tiles, planar
// configurations, depths, photometric interpretations) and PNG files with
// libpng, then loaded through LoadImageFile and compared pixel by pixel.
// Broken and hostile files must end in an exception, never a crash.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/SimImgUtils.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::TempDir;
using Bytes = std::vector<std::uint8_t>;
// Sample s of pixel (x, y), in the range of the file's bits per sample.
using SampleFn = std::function<unsigned(int x, int y, int s)>;

struct TiffSpec {
  std::uint32_t width = 40;
  std::uint32_t height = 24;
  std::uint16_t samples = 3;
  std::uint16_t bits = 8;
  std::uint16_t photometric = PHOTOMETRIC_RGB;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t predictor = PREDICTOR_NONE;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  std::uint32_t rowsPerStrip = 5;
  std::uint32_t tile = 0;  // tile side when tiled
  bool bigEndian = false;
  std::uint16_t extraSample = 0;        // EXTRASAMPLE_* for a fourth sample, 0 = none
  std::vector<std::uint16_t> colorMap;  // red, green, blue runs of 1 << bits
};

// Packs one plane (all samples when contiguous) of row y.
Bytes PackRow(const TiffSpec& spec, int y, int plane, const SampleFn& sample) {
  const bool separate = spec.planar == PLANARCONFIG_SEPARATE;
  const int perPixel = separate ? 1 : spec.samples;
  const std::size_t count = std::size_t{spec.width} * perPixel;
  Bytes row((count * spec.bits + 7) / 8);
  for (std::size_t i = 0; i < count; ++i) {
    const int x = static_cast<int>(i / perPixel);
    const int s = separate ? plane : static_cast<int>(i % perPixel);
    const unsigned v = sample(x, y, s);
    if (spec.bits == 16) {
      const auto w = static_cast<std::uint16_t>(v);
      std::memcpy(&row[i * 2], &w, 2);  // libtiff takes native order
    } else if (spec.bits == 8) {
      row[i] = static_cast<std::uint8_t>(v);
    } else {
      // Bit by bit, most significant first: 3-bit samples straddle bytes.
      for (int k = 0; k < spec.bits; ++k) {
        const std::size_t bit = i * spec.bits + k;
        if ((v >> (spec.bits - 1 - k)) & 1)
          row[bit >> 3] |= static_cast<std::uint8_t>(0x80 >> (bit & 7));
      }
    }
  }
  return row;
}

void WriteTiff(const std::string& fileName, const TiffSpec& spec, const SampleFn& sample) {
  TIFF* tif = TIFFOpen(fileName.c_str(), spec.bigEndian ? "wb" : "wl");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, spec.planar);
  if (spec.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, spec.predictor);
  if (spec.extraSample != 0) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &spec.extraSample);
  if (!spec.colorMap.empty()) {
    const std::size_t n = spec.colorMap.size() / 3;
    TIFFSetField(tif, TIFFTAG_COLORMAP, spec.colorMap.data(), spec.colorMap.data() + n,
                 spec.colorMap.data() + 2 * n);
  }
  if (spec.compression == COMPRESSION_JPEG) {
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
    if (spec.photometric == PHOTOMETRIC_YCBCR) {
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
  }
  const int planes = spec.planar == PLANARCONFIG_SEPARATE ? spec.samples : 1;
  if (spec.tile == 0) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.rowsPerStrip);
    for (int p = 0; p < planes; ++p) {
      for (std::uint32_t y = 0; y < spec.height; ++y) {
        Bytes row = PackRow(spec, static_cast<int>(y), p, sample);
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, static_cast<std::uint16_t>(p)), 1);
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, spec.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, spec.tile);
    ASSERT_EQ(spec.bits % 8, 0);
    const std::size_t pixelBytes = std::size_t{spec.bits} / 8 * (planes == 1 ? spec.samples : 1);
    Bytes tile(static_cast<std::size_t>(TIFFTileSize(tif)));
    for (int p = 0; p < planes; ++p) {
      for (std::uint32_t ty = 0; ty < spec.height; ty += spec.tile) {
        std::vector<Bytes> rows;
        for (std::uint32_t y = ty; y < ty + spec.tile; ++y) {
          rows.push_back(y < spec.height ? PackRow(spec, static_cast<int>(y), p, sample)
                                         : Bytes(spec.width * pixelBytes));
        }
        for (std::uint32_t tx = 0; tx < spec.width; tx += spec.tile) {
          std::fill(tile.begin(), tile.end(), 0);
          const std::size_t n = std::min(spec.tile, spec.width - tx) * pixelBytes;
          for (std::uint32_t r = 0; r < spec.tile; ++r) {
            std::memcpy(&tile[r * spec.tile * pixelBytes], &rows[r][tx * pixelBytes], n);
          }
          ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<std::uint16_t>(p)), 0);
        }
      }
    }
  }
  TIFFClose(tif);
}

unsigned Channel(int x, int y, int s) {
  return static_cast<unsigned>((x * (5 + s * 2) + y * (3 + s) + s * 40) & 0xFF);
}

// Loads fileName through LoadImageFile (which must accept it).
Bitmap Load(const std::string& fileName) {
  Bitmap b;
  EXPECT_TRUE(LoadImageFile(b, fileName));
  return b;
}

// The pixel colour of a direct 8-bit RGB(A) test file.
void ExpectRgbPixels(const Bitmap& b, int width, int height, const SampleFn& sample,
                     const std::string& what) {
  ASSERT_EQ(b.width(), width) << what;
  ASSERT_EQ(b.height(), height) << what;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const PaletteEntry c = b.pixel(x, y);
      ASSERT_EQ(c.r, sample(x, y, 0)) << what << " at " << x << "," << y;
      ASSERT_EQ(c.g, sample(x, y, 1)) << what << " at " << x << "," << y;
      ASSERT_EQ(c.b, sample(x, y, 2)) << what << " at " << x << "," << y;
    }
  }
}

std::string LoadError(const std::string& fileName) {
  Bitmap b;
  try {
    LoadImageFile(b, fileName);
  } catch (const Error& e) {
    return e.what();
  }
  return "(loaded)";
}

TEST(TiffDecoder, RgbLoadsExactlyWithEveryLosslessCompressionAndByteOrder) {
  TempDir dir;
  const struct {
    std::uint16_t compression, predictor;
  } cases[] = {{COMPRESSION_NONE, PREDICTOR_NONE},
               {COMPRESSION_LZW, PREDICTOR_NONE},
               {COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
               {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE},
               {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL},
               {COMPRESSION_PACKBITS, PREDICTOR_NONE}};
  for (const auto& c : cases) {
    for (const bool bigEndian : {false, true}) {
      TiffSpec spec;
      spec.compression = c.compression;
      spec.predictor = c.predictor;
      spec.bigEndian = bigEndian;
      const std::string what = "compression " + std::to_string(c.compression) + " predictor " +
                               std::to_string(c.predictor) + (bigEndian ? " MM" : " II");
      const std::string name = dir.file("rgb.tif");
      WriteTiff(name, spec, Channel);
      const Bitmap b = Load(name);
      EXPECT_EQ(b.format(), PixelFormat::Bgr24) << what;
      ExpectRgbPixels(b, 40, 24, Channel, what);
    }
  }
}

TEST(TiffDecoder, TiledAndPlanarLayoutsGiveTheSamePixels) {
  TempDir dir;
  const struct {
    std::uint32_t tile;
    std::uint16_t planar, compression;
  } cases[] = {{16, PLANARCONFIG_CONTIG, COMPRESSION_NONE},
               {16, PLANARCONFIG_CONTIG, COMPRESSION_LZW},
               {0, PLANARCONFIG_SEPARATE, COMPRESSION_ADOBE_DEFLATE},
               {16, PLANARCONFIG_SEPARATE, COMPRESSION_PACKBITS}};
  for (const auto& c : cases) {
    TiffSpec spec;  // 40 × 24: the right and bottom tiles are partial
    spec.tile = c.tile;
    spec.planar = c.planar;
    spec.compression = c.compression;
    const std::string what = "tile " + std::to_string(c.tile) + " planar " +
                             std::to_string(c.planar) + " compression " +
                             std::to_string(c.compression);
    WriteTiff(dir.file("layout.tif"), spec, Channel);
    const Bitmap b = Load(dir.file("layout.tif"));
    EXPECT_EQ(b.format(), PixelFormat::Bgr24) << what;
    ExpectRgbPixels(b, 40, 24, Channel, what);
  }
}

TEST(TiffDecoder, SixteenBitSamplesKeepTheirHighByte) {
  TempDir dir;
  const SampleFn wide = [](int x, int y, int s) { return Channel(x, y, s) * 256 + 200; };
  TiffSpec spec;
  spec.bits = 16;
  spec.bigEndian = true;
  spec.compression = COMPRESSION_LZW;
  WriteTiff(dir.file("rgb16.tif"), spec, wide);
  const Bitmap rgb = Load(dir.file("rgb16.tif"));
  EXPECT_EQ(rgb.format(), PixelFormat::Bgr24);
  ExpectRgbPixels(rgb, 40, 24, Channel, "16-bit RGB");

  spec.samples = 1;
  spec.photometric = PHOTOMETRIC_MINISBLACK;
  WriteTiff(dir.file("grey16.tif"), spec, wide);
  const Bitmap grey = Load(dir.file("grey16.tif"));
  EXPECT_EQ(grey.format(), PixelFormat::Indexed8);
  const PaletteEntry c = grey.pixel(7, 5);
  EXPECT_EQ(c.r, Channel(7, 5, 0));
  EXPECT_EQ(c.g, c.r);
}

TEST(TiffDecoder, GreyImagesBecomePaletteBitmapsOfTheirDepth) {
  TempDir dir;
  const struct {
    std::uint16_t bits;
    PixelFormat format;
  } cases[] = {{1, PixelFormat::Indexed1},
               {2, PixelFormat::Indexed4},
               {4, PixelFormat::Indexed4},
               {8, PixelFormat::Indexed8}};
  for (const auto& c : cases) {
    for (const std::uint16_t photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
      const unsigned top = (1u << c.bits) - 1;
      const SampleFn level = [top](int x, int y, int) { return (x + y) % (top + 1); };
      TiffSpec spec;
      spec.samples = 1;
      spec.bits = c.bits;
      spec.photometric = photometric;
      spec.compression = COMPRESSION_PACKBITS;
      WriteTiff(dir.file("grey.tif"), spec, level);
      const Bitmap b = Load(dir.file("grey.tif"));
      const std::string what =
          std::to_string(c.bits) + "-bit photometric " + std::to_string(photometric);
      ASSERT_EQ(b.format(), c.format) << what;
      for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 40; ++x) {
          unsigned grey = level(x, y, 0) * 255 / top;
          if (photometric == PHOTOMETRIC_MINISWHITE) grey = 255 - grey;
          const PaletteEntry p = b.pixel(x, y);
          ASSERT_EQ(p.r, grey) << what << " at " << x << "," << y;
          ASSERT_EQ(p.g, grey);
          ASSERT_EQ(p.b, grey);
        }
      }
    }
  }
}

TEST(TiffDecoder, PaletteImagesKeepTheirColourMapScaledToEightBits) {
  TempDir dir;
  for (const std::uint16_t bits : {4, 8}) {
    const std::size_t n = std::size_t{1} << bits;
    TiffSpec spec;
    spec.samples = 1;
    spec.bits = bits;
    spec.photometric = PHOTOMETRIC_PALETTE;
    spec.compression = COMPRESSION_LZW;
    spec.colorMap.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
      spec.colorMap[i] = static_cast<std::uint16_t>(i * 997 % 256 * 257);         // red
      spec.colorMap[n + i] = static_cast<std::uint16_t>((255 - i % 256) * 257);   // green
      spec.colorMap[2 * n + i] = static_cast<std::uint16_t>(i * 31 % 256 * 257);  // blue
    }
    const SampleFn index = [n](int x, int y, int) { return (x * 3 + y) % n; };
    WriteTiff(dir.file("pal.tif"), spec, index);
    const Bitmap b = Load(dir.file("pal.tif"));
    ASSERT_EQ(b.format(), bits == 4 ? PixelFormat::Indexed4 : PixelFormat::Indexed8);
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 40; ++x) {
        const std::size_t i = index(x, y, 0);
        const PaletteEntry p = b.pixel(x, y);
        ASSERT_EQ(p.r, spec.colorMap[i] >> 8);
        ASSERT_EQ(p.g, spec.colorMap[n + i] >> 8);
        ASSERT_EQ(p.b, spec.colorMap[2 * n + i] >> 8);
      }
    }
  }
}

TEST(TiffDecoder, AlphaIsCarriedAsTheFourthByteWithoutPremultiplying) {
  TempDir dir;
  TiffSpec spec;
  spec.samples = 4;
  spec.extraSample = EXTRASAMPLE_UNASSALPHA;
  spec.compression = COMPRESSION_ADOBE_DEFLATE;
  WriteTiff(dir.file("rgba.tif"), spec, Channel);
  const Bitmap b = Load(dir.file("rgba.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Bgrx32);
  ExpectRgbPixels(b, 40, 24, Channel, "RGBA");
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 40; ++x) ASSERT_EQ(b.row(y)[x * 4 + 3], Channel(x, y, 3));
  }
}

TEST(TiffDecoder, CmykAndYCbCrAreConvertedToRgb) {
  TempDir dir;
  TiffSpec cmyk;
  cmyk.samples = 4;
  cmyk.photometric = PHOTOMETRIC_SEPARATED;
  // Left half cyan, right half magenta with some black.
  WriteTiff(dir.file("cmyk.tif"), cmyk, [](int x, int, int s) -> unsigned {
    if (x < 20) return s == 0 ? 255 : 0;
    return s == 1 ? 255 : (s == 3 ? 51 : 0);
  });
  Bitmap b = Load(dir.file("cmyk.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  EXPECT_EQ(b.pixel(3, 3), (PaletteEntry{255, 255, 0}));
  EXPECT_EQ(b.pixel(30, 3), (PaletteEntry{204, 0, 204}));

  TiffSpec ycc;
  ycc.photometric = PHOTOMETRIC_YCBCR;
  ycc.compression = COMPRESSION_JPEG;
  ycc.rowsPerStrip = 16;
  const SampleFn flat = [](int, int, int s) -> unsigned { return s == 0 ? 200 : s == 1 ? 90 : 40; };
  WriteTiff(dir.file("ycc.tif"), ycc, flat);
  b = Load(dir.file("ycc.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  ASSERT_EQ(b.width(), 40);
  const PaletteEntry c = b.pixel(20, 12);
  EXPECT_NEAR(c.r, 200, 4);
  EXPECT_NEAR(c.g, 90, 4);
  EXPECT_NEAR(c.b, 40, 4);
}

TEST(TiffDecoder, UnsupportedDepthsAndInterpretationsFailWithAMessage) {
  TempDir dir;
  TiffSpec three;
  three.samples = 1;
  three.bits = 3;
  three.photometric = PHOTOMETRIC_MINISBLACK;
  WriteTiff(dir.file("three.tif"), three, [](int, int, int) { return 5u; });
  EXPECT_EQ(LoadError(dir.file("three.tif")),
            "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");

  TiffSpec mask;
  mask.samples = 1;
  mask.bits = 1;
  mask.photometric = PHOTOMETRIC_MASK;
  WriteTiff(dir.file("mask.tif"), mask, [](int, int, int) { return 1u; });
  EXPECT_NE(LoadError(dir.file("mask.tif")), "(loaded)");
}

// A valid little-endian RGB TIFF to break.
Bytes ValidTiffBytes(const TempDir& dir, std::uint16_t compression) {
  TiffSpec spec;
  spec.compression = compression;
  WriteTiff(dir.file("valid.tif"), spec, Channel);
  const auto chars = test::ReadBytes(dir.file("valid.tif"));
  return Bytes(chars.begin(), chars.end());
}

void WriteBytes(const std::string& fileName, const Bytes& bytes) {
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TEST(TiffDecoder, BrokenFilesThrowInsteadOfCrashing) {
  TempDir dir;
  const Bytes valid = ValidTiffBytes(dir, COMPRESSION_LZW);

  // A first directory made of garbage.
  Bytes garbage = {'I', 'I', 42, 0, 8, 0, 0, 0};
  garbage.resize(64, 0xEE);
  WriteBytes(dir.file("garbage.tif"), garbage);
  EXPECT_EQ(LoadError(dir.file("garbage.tif")),
            "Cannot load image. Invalid or unexpected TIF/TIFF image format.");

  // Every truncation, and random byte damage: loaded or an exception, never
  // a crash (run under the sanitizers to catch bad reads).
  for (std::size_t cut = 9; cut < valid.size(); cut += 37) {
    WriteBytes(dir.file("cut.tif"), Bytes(valid.begin(), valid.begin() + cut));
    Bitmap b;
    try {
      LoadImageFile(b, dir.file("cut.tif"));
    } catch (const Error&) {
    }
  }
  std::mt19937 random(1234);
  for (int round = 0; round < 80; ++round) {
    Bytes damaged = valid;
    for (int k = 0; k < 4; ++k) {
      damaged[8 + random() % (damaged.size() - 8)] = static_cast<std::uint8_t>(random());
    }
    WriteBytes(dir.file("damaged.tif"), damaged);
    Bitmap b;
    try {
      LoadImageFile(b, dir.file("damaged.tif"));
    } catch (const Error&) {
    }
  }
}

TEST(TiffDecoder, AbsurdSizesAreRefusedBeforeAllocating) {
  TempDir dir;
  TiffSpec spec;
  spec.width = 200000;
  spec.height = 200000;
  spec.rowsPerStrip = 1;
  spec.samples = 1;
  spec.photometric = PHOTOMETRIC_MINISBLACK;
  // Write only the directory: libtiff lets us close without the strips.
  TIFF* tif = TIFFOpen(dir.file("huge.tif").c_str(), "wl");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  Bytes row(spec.width);
  ASSERT_EQ(TIFFWriteScanline(tif, row.data(), 0, 0), 1);
  TIFFClose(tif);
  EXPECT_THROW(
      {
        Bitmap b;
        LoadImageFile(b, dir.file("huge.tif"));
      },
      Error);
}

// --- PNG ---------------------------------------------------------------------

void WritePng(const std::string& fileName, std::uint32_t format, int width, int height,
              const void* pixels, const void* colormap = nullptr, int colors = 0) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = format;
  image.colormap_entries = colors;
  ASSERT_TRUE(png_image_write_to_file(&image, fileName.c_str(), 0, pixels, 0, colormap))
      << image.message;
}

TEST(PngDecoder, EachColourTypeGetsItsPixelFormat) {
  TempDir dir;
  const int w = 20, h = 10;

  Bytes grey(w * h);
  for (int i = 0; i < w * h; ++i) grey[i] = static_cast<std::uint8_t>(i);
  WritePng(dir.file("grey.tif"), PNG_FORMAT_GRAY, w, h, grey.data());
  Bitmap b = Load(dir.file("grey.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Indexed8);
  EXPECT_EQ(b.pixel(3, 2), (PaletteEntry{43, 43, 43}));

  Bytes rgba(w * h * 4);
  for (int i = 0; i < w * h * 4; ++i) rgba[i] = static_cast<std::uint8_t>(i * 7);
  WritePng(dir.file("rgba.tif"), PNG_FORMAT_RGBA, w, h, rgba.data());
  b = Load(dir.file("rgba.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Bgrx32);
  const std::uint8_t* p = b.row(1) + 5 * 4;
  const std::uint8_t* q = rgba.data() + (1 * w + 5) * 4;
  EXPECT_EQ(p[0], q[2]);
  EXPECT_EQ(p[1], q[1]);
  EXPECT_EQ(p[2], q[0]);
  EXPECT_EQ(p[3], q[3]);

  // 16-bit samples keep their high byte (no gamma correction).
  std::vector<std::uint16_t> wide(w * h * 3);
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<std::uint16_t>(i * 331);
  WritePng(dir.file("wide.tif"), PNG_FORMAT_LINEAR_RGB, w, h, wide.data());
  b = Load(dir.file("wide.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Bgr24);
  const std::size_t at = (std::size_t{4} * w + 7) * 3;
  EXPECT_EQ(b.pixel(7, 4), (PaletteEntry{static_cast<std::uint8_t>(wide[at + 2] >> 8),
                                         static_cast<std::uint8_t>(wide[at + 1] >> 8),
                                         static_cast<std::uint8_t>(wide[at] >> 8)}));

  // A palette file keeps its palette.
  const std::uint8_t map[] = {255, 0, 0, 0, 128, 0, 10, 20, 30};
  Bytes indices(w * h);
  for (int i = 0; i < w * h; ++i) indices[i] = static_cast<std::uint8_t>(i % 3);
  WritePng(dir.file("pal.tif"), PNG_FORMAT_RGB_COLORMAP, w, h, indices.data(), map, 3);
  b = Load(dir.file("pal.tif"));
  ASSERT_EQ(b.format(), PixelFormat::Indexed8);
  EXPECT_EQ(b.pixel(0, 0), (PaletteEntry{0, 0, 255}));
  EXPECT_EQ(b.pixel(1, 0), (PaletteEntry{0, 128, 0}));
  EXPECT_EQ(b.pixel(2, 0), (PaletteEntry{30, 20, 10}));
}

TEST(PngDecoder, TruncatedOrDamagedFilesThrow) {
  TempDir dir;
  const Bitmap image = test::DrawTexturedPanorama(64);
  Bytes rgb(64 * 32 * 3);
  std::memcpy(rgb.data(), image.data(), rgb.size());
  WritePng(dir.file("ok.tif"), PNG_FORMAT_BGR, 64, 32, rgb.data());
  const auto chars = test::ReadBytes(dir.file("ok.tif"));
  const Bytes valid(chars.begin(), chars.end());

  WriteBytes(dir.file("cut.tif"), Bytes(valid.begin(), valid.begin() + valid.size() / 2));
  const std::string error = LoadError(dir.file("cut.tif"));
  EXPECT_EQ(error, "PNG ファイルが途中で切れています。");

  std::mt19937 random(99);
  for (int round = 0; round < 60; ++round) {
    Bytes damaged = valid;
    damaged[8 + random() % (damaged.size() - 8)] ^= static_cast<std::uint8_t>(1 + random() % 255);
    WriteBytes(dir.file("damaged.tif"), damaged);
    Bitmap b;
    try {
      LoadImageFile(b, dir.file("damaged.tif"));
    } catch (const Error&) {
    }
  }
}

}  // namespace
}  // namespace skyfold
