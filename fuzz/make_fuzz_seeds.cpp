// Writes small valid files of every layout the decoders read into the seed
// corpora of the fuzz targets, so that a short run starts past the magic
// numbers: make_fuzz_seeds CORPUS_DIR writes CORPUS_DIR/<target>/seed_*.
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/BmpIO.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Seed {
  std::string target;  // without "_fuzzer"
  std::string name;
  Bytes bytes;
};

Bytes Samples(int count) {
  Bytes b(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + (i >> 5) * 11);
  return b;
}

Bytes Jpeg(int components, bool progressive, bool arithmetic, int restart) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = 24;
  cinfo.image_height = 16;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  // Optimised Huffman tables and arithmetic coding exclude each other.
  cinfo.optimize_coding = arithmetic ? FALSE : TRUE;
  cinfo.arith_code = arithmetic ? TRUE : FALSE;
  cinfo.restart_interval = static_cast<unsigned>(restart);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const Bytes rows = Samples(24 * 16 * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(rows.data()) + cinfo.next_scanline * 24 * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + size);
  std::free(out);
  return bytes;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct TiffSeed {
  std::uint16_t compression, photometric, bits, samples;
  bool tiled, separate;
};

Bytes Tiff(const fs::path& scratch, const TiffSeed& s) {
  const std::uint32_t w = 24, h = 16;
  TIFF* tif = TIFFOpen(scratch.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> map(std::size_t{3} << s.bits);
    for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<std::uint16_t>(i * 4099);
    const std::size_t n = std::size_t{1} << s.bits;
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  if (s.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
  const int planes = s.separate ? s.samples : 1;
  const std::size_t rowBytes = (std::size_t{w} * s.bits * (s.separate ? 1 : s.samples) + 7) / 8;
  if (s.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    const Bytes tile = Samples(static_cast<int>(TIFFTileSize(tif)));
    for (int p = 0; p < planes; ++p) {
      for (std::uint32_t x = 0; x < w; x += 16) {
        TIFFWriteTile(tif, const_cast<std::uint8_t*>(tile.data()), x, 0, 0,
                      static_cast<std::uint16_t>(p));
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);  // JPEG needs a multiple of 8
    const Bytes row = Samples(static_cast<int>(rowBytes));
    for (int p = 0; p < planes; ++p) {
      for (std::uint32_t y = 0; y < h; ++y) {
        TIFFWriteScanline(tif, const_cast<std::uint8_t*>(row.data()), y,
                          static_cast<std::uint16_t>(p));
      }
    }
  }
  TIFFClose(tif);
  return ReadAll(scratch);
}

Bytes Png(const fs::path& scratch, std::uint32_t format, bool colormap) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 24;
  image.height = 16;
  image.format = format;
  image.colormap_entries = colormap ? 16 : 0;
  Bytes pixels = Samples(static_cast<int>(PNG_IMAGE_SIZE(image)));
  const Bytes map = Samples(16 * 4);
  if (colormap) {
    for (std::uint8_t& index : pixels) index &= 15;
  }
  png_image_write_to_file(&image, scratch.c_str(), 0, pixels.data(), 0,
                          colormap ? map.data() : nullptr);
  return ReadAll(scratch);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  const fs::path scratch = fs::temp_directory_path() / ("skyfold_seed_" + std::to_string(getpid()));
  std::vector<Seed> seeds;

  const struct {
    const char* name;
    int components;
    bool progressive, arithmetic;
    int restart;
  } jpegs[] = {{"grey", 1, false, false, 0},           {"rgb", 3, false, false, 0},
               {"progressive", 3, true, false, 0},     {"arithmetic", 3, false, true, 0},
               {"restart", 3, false, false, 1},        {"cmyk", 4, false, false, 0},
               {"grey_progressive", 1, true, false, 0}};
  for (const auto& j : jpegs) {
    seeds.push_back(
        {"jpeg_decoder", j.name, Jpeg(j.components, j.progressive, j.arithmetic, j.restart)});
  }

  const struct {
    const char* name;
    TiffSeed spec;
  } tiffs[] = {
      {"rgb_none", {COMPRESSION_NONE, PHOTOMETRIC_RGB, 8, 3, false, false}},
      {"rgb_lzw", {COMPRESSION_LZW, PHOTOMETRIC_RGB, 8, 3, false, false}},
      {"rgb_deflate_tiled", {COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 8, 3, true, false}},
      {"rgba_packbits_planar", {COMPRESSION_PACKBITS, PHOTOMETRIC_RGB, 8, 4, false, true}},
      {"grey16", {COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 16, 1, false, false}},
      {"palette4", {COMPRESSION_PACKBITS, PHOTOMETRIC_PALETTE, 4, 1, false, false}},
      {"palette8", {COMPRESSION_LZW, PHOTOMETRIC_PALETTE, 8, 1, true, false}},
      {"fax3", {COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, 1, 1, false, false}},
      {"fax4", {COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1, 1, false, false}},
      {"ccittrle", {COMPRESSION_CCITTRLE, PHOTOMETRIC_MINISWHITE, 1, 1, false, false}},
      {"jpeg", {COMPRESSION_JPEG, PHOTOMETRIC_RGB, 8, 3, false, false}},
      {"cmyk", {COMPRESSION_NONE, PHOTOMETRIC_SEPARATED, 8, 4, false, false}},
      {"ycbcr", {COMPRESSION_NONE, PHOTOMETRIC_YCBCR, 8, 3, false, false}},
  };
  for (const auto& t : tiffs) seeds.push_back({"tiff_decoder", t.name, Tiff(scratch, t.spec)});

  const struct {
    const char* name;
    std::uint32_t format;
    bool colormap;
  } pngs[] = {{"grey", PNG_FORMAT_GRAY, false},        {"rgb", PNG_FORMAT_RGB, false},
              {"rgba", PNG_FORMAT_RGBA, false},        {"grey_alpha", PNG_FORMAT_GA, false},
              {"rgb16", PNG_FORMAT_LINEAR_RGB, false}, {"palette", PNG_FORMAT_RGB_COLORMAP, true}};
  for (const auto& p : pngs)
    seeds.push_back({"png_decoder", p.name, Png(scratch, p.format, p.colormap)});

  skyfold::Bitmap bmp(24, 16);
  skyfold::SaveBitmapAsBmp(scratch.string(), bmp);
  seeds.push_back({"bmp_reader", "rgb24", ReadAll(scratch)});
  fs::remove(scratch);

  // The registry reads all of them.
  const std::size_t count = seeds.size();
  for (std::size_t i = 0; i < count; ++i) {
    seeds.push_back({"decoder_registry", seeds[i].target + "_" + seeds[i].name, seeds[i].bytes});
  }
  for (const Seed& s : seeds) {
    const fs::path folder = root / (s.target + "_fuzzer");
    fs::create_directories(folder);
    std::ofstream(folder / ("seed_" + s.name), std::ios::binary)
        .write(reinterpret_cast<const char*>(s.bytes.data()),
               static_cast<std::streamsize>(s.bytes.size()));
  }
  std::printf("%zu seeds in %s\n", seeds.size(), root.c_str());
  return 0;
}
