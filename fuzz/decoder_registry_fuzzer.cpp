// Fuzzes everything behind a ".tif" name — the content test of each decoder
// and libtiff, libpng, libjpeg and our BMP reader behind them — by writing the
// input to a temporary .tif file and loading it through LoadImageFile. The
// same bytes are also decoded as a JPEG held in memory.
//
// Inputs that announce more than kMaxPixels are skipped: the decoders may
// legitimately allocate up to 4 GiB for them, which would only trip
// libFuzzer's allocation limit.
#include <tiffio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"

namespace {

constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 22;

std::uint32_t Big16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
std::uint32_t Big32(const std::uint8_t* p) { return Big16(p) << 16 | Big16(p + 2); }
std::uint32_t Little32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint64_t Magnitude(std::uint32_t v) {
  const auto s = static_cast<std::int32_t>(v);
  return s < 0 ? std::uint64_t(-std::int64_t{s}) : std::uint64_t(s);
}

// Largest width × height any SOF segment of a JPEG stream announces.
std::uint64_t JpegPixels(const std::uint8_t* data, std::size_t size) {
  std::uint64_t most = 0;
  for (std::size_t i = 0; i + 8 < size; ++i) {
    if (data[i] != 0xFF) continue;
    const std::uint8_t m = data[i + 1];
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      const std::uint64_t pixels = std::uint64_t{Big16(data + i + 5)} * Big16(data + i + 7);
      if (pixels > most) most = pixels;
    }
  }
  return most;
}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

std::uint64_t TiffPixels(const std::string& fileName) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  TIFF* tif = TIFFOpenExt(fileName.c_str(), "rm", options);
  TIFFOpenOptionsFree(options);
  if (!tif) return 0;
  std::uint32_t width = 0, height = 0, tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  TIFFClose(tif);
  const std::uint64_t tile = std::uint64_t{tileWidth} * tileLength;
  const std::uint64_t image = std::uint64_t{width} * height;
  return tile > image ? tile : image;
}

bool TooLarge(const std::uint8_t* data, std::size_t size, const std::string& fileName) {
  if (JpegPixels(data, size) > kMaxPixels) return true;
  if (size >= 24 && data[0] == 0x89 && data[1] == 'P') {
    return std::uint64_t{Big32(data + 16)} * Big32(data + 20) > kMaxPixels;
  }
  if (size >= 26 && data[0] == 'B' && data[1] == 'M') {
    const bool core = Little32(data + 14) == 12;
    const std::uint64_t w = core ? data[18] | data[19] << 8 : Magnitude(Little32(data + 18));
    const std::uint64_t h = core ? data[20] | data[21] << 8 : Magnitude(Little32(data + 22));
    return w * h > kMaxPixels;
  }
  if (size >= 8 && (data[0] == 'I' || data[0] == 'M')) return TiffPixels(fileName) > kMaxPixels;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string fileName =
      "/tmp/skyfold_registry_fuzz_" + std::to_string(getpid()) + ".tif";
  std::FILE* f = std::fopen(fileName.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (TooLarge(data, size, fileName)) return 0;

  try {
    skyfold::Bitmap bitmap;
    skyfold::LoadImageFile(bitmap, fileName);
  } catch (const skyfold::Error&) {
  }
  try {
    skyfold::Bitmap bitmap;
    skyfold::DecodeJpeg(data, size, bitmap);
  } catch (const skyfold::Error&) {
  }
  return 0;
}
