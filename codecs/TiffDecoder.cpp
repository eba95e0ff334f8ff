// TIFF decoder over libtiff: the first directory only, both byte orders,
// strips or tiles, every compression libtiff was built with.
//
// Grey and palette images become palette bitmaps (1-bit → Indexed1, 2–4-bit
// → Indexed4, 8/16-bit → Indexed8), RGB becomes Bgr24 and RGB with a fourth
// sample Bgrx32 with that sample (alpha) as the fourth byte; 16-bit samples
// keep their high byte. Those are read as raw samples, one strip or one row
// of tiles at a time, and converted row by row. CMYK, YCbCr and CIELab go
// through libtiff's RGBA reader, which does the colour conversion.
//
// Before libtiff sees the file, its first directory as stored (TiffDirectory)
// is checked: a size of zero, a palette without a ColorMap of the right
// length, strip or tile tables whose counts disagree with the size, a
// compression this libtiff cannot decode, and a size the stored bytes cannot
// describe are refused with a message of ours before anything is allocated.
//
// libtiff reads through our own procedures from an InputFile. Each handle
// gets its own error handler that keeps the first message, so a failure
// carries libtiff's own words (as the detail of a short message of ours)
// and no process-wide state is touched.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "codecs/TiffDirectory.h"
#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

constexpr const char* kDepthMessage =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
constexpr const char* kDirectoryMessage =
    "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
constexpr const char* kPaletteMissingMessage = "TIFF のパレット (ColorMap) がありません。";
constexpr const char* kPaletteSizeMessage =
    "TIFF のパレット (ColorMap) の大きさがビット数と合いません。";
constexpr const char* kStripTableMessage =
    "TIFF のストリップ（タイル）の表が画像の大きさと合いません。";
constexpr const char* kCompressionMessage = "この TIFF の圧縮方式には対応していません。";
constexpr const char* kColourMessage = "この TIFF の色の形式には対応していません。";
constexpr const char* kReadFailedMessage =
    "TIFF の画像データを読み込めません。ファイルが壊れているか、途中で切れています。";
// A tile is a unit of decoding; anything larger than this is a hostile header.
constexpr std::uint64_t kMaxTileBytes = std::uint64_t{256} << 20;
// Bound on any single allocation libtiff makes for one handle.
constexpr tmsize_t kMaxLibtiffAlloc = tmsize_t{1} << 30;

// Filled by libtiff's error callback; plain data, so the callback cannot
// throw through libtiff's C frames.
struct TiffMessages {
  char first[512] = {};
};

int CollectError(TIFF*, void* userData, const char*, const char* fmt, va_list args) {
  auto* messages = static_cast<TiffMessages*>(userData);
  if (messages->first[0] == '\0') {
    std::vsnprintf(messages->first, sizeof messages->first, fmt, args);
  }
  return 1;  // handled: keep libtiff's global handler quiet
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// What libtiff's procedures read from. A read error cannot be thrown
// through libtiff: it is kept here and rethrown once libtiff has returned.
struct ClientFile {
  const InputFile* file;
  std::uint64_t offset = 0;
  std::exception_ptr failure;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* client = static_cast<ClientFile*>(handle);
  if (size < 0) return -1;
  try {
    const std::size_t got =
        client->file->readAt(client->offset, buffer, static_cast<std::size_t>(size));
    client->offset += got;
    return static_cast<tmsize_t>(got);
  } catch (...) {
    client->failure = std::current_exception();
    return -1;
  }
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* client = static_cast<ClientFile*>(handle);
  switch (whence) {
    case SEEK_SET:
      client->offset = offset;
      break;
    case SEEK_CUR:
      client->offset += offset;
      break;
    case SEEK_END:
      client->offset = client->file->size() + offset;
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  return client->offset;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<ClientFile*>(handle)->file->size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// One open handle with the state its callbacks report into (which outlives
// the handle).
struct OpenTiff {
  ClientFile client;
  TiffMessages messages;
  TiffPtr handle;
};

// A failure of libtiff: the read error that caused it, else a message of
// ours with libtiff's words as the detail.
[[noreturn]] void FailWith(const OpenTiff& tiff, const char* message, const char* fallback) {
  if (tiff.client.failure) std::rethrow_exception(tiff.client.failure);
  throw CodecError(message, tiff.messages.first[0] != '\0' ? tiff.messages.first : fallback);
}

void Open(const InputFile& file, OpenTiff& tiff) {
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) throw MemoryError(kOutOfMemoryMessage);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), CollectError, &tiff.messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibtiffAlloc);
  tiff.client.file = &file;
  // "m": no mapping; everything is read through ReadProc.
  tiff.handle.reset(TIFFClientOpenExt(file.name().c_str(), "rm", &tiff.client, ReadProc, WriteProc,
                                      SeekProc, CloseProc, SizeProc, MapProc, UnmapProc,
                                      options.get()));
  // libtiff reads the first directory while opening: a failure here is a
  // directory that cannot be read.
  if (!tiff.handle) FailWith(tiff, kDirectoryMessage, "TIFFClientOpen failed");
}

std::vector<std::uint8_t> AllocateBuffer(std::uint64_t bytes) {
  if (bytes > static_cast<std::uint64_t>(kMaxBitmapBytes) * 2) {
    throw MemoryError(kTooLargeMessage, std::to_string(bytes) + " バイトのバッファーが必要です");
  }
  return std::vector<std::uint8_t>(static_cast<std::size_t>(bytes));
}

// The layout of the raw sample data of the first directory.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bitsPerSample = 1;
  std::uint16_t samplesPerPixel = 1;
  bool separate = false;  // one plane per sample
};

// Reads the raw samples of one plane in bands: a strip, or one row of tiles.
// A band holds bandRows(y0) rows of planeRowBytes bytes each.
class BandReader {
 public:
  BandReader(TIFF* tif, const OpenTiff& tiff, const Layout& layout)
      : tif_(tif), tiff_(tiff), layout_(layout) {
    const std::uint64_t pixelBits =
        std::uint64_t{layout.bitsPerSample} * (layout.separate ? 1 : layout.samplesPerPixel);
    planeRowBytes_ = static_cast<std::size_t>((layout.width * pixelBits + 7) / 8);
    tiled_ = TIFFIsTiled(tif) != 0;
    if (tiled_) {
      std::uint32_t tileWidth = 0, tileLength = 0;
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
      if (tileWidth == 0 || tileLength == 0 || (tileWidth * pixelBits) % 8 != 0) {
        throw CodecError(kDirectoryMessage);
      }
      tileWidth_ = tileWidth;
      bandHeight_ = tileLength;
      tileRowBytes_ = static_cast<std::size_t>(tileWidth * pixelBits / 8);
      const std::uint64_t tileBytes = std::uint64_t{tileRowBytes_} * tileLength;
      if (tileBytes > kMaxTileBytes) throw CodecError("Cannot load image. Tiles are too large.");
      tile_ = AllocateBuffer(tileBytes);
    } else {
      std::uint32_t rowsPerStrip = 0;
      TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
      bandHeight_ = rowsPerStrip == 0 ? layout.height : rowsPerStrip;
    }
    bandHeight_ = std::min(bandHeight_, layout.height);
  }

  std::uint32_t bandHeight() const { return bandHeight_; }
  std::size_t planeRowBytes() const { return planeRowBytes_; }
  std::uint32_t bandRows(std::uint32_t y0) const {
    return std::min(bandHeight_, layout_.height - y0);
  }

  // Fills out with rows [y0, y0 + bandRows(y0)) of the given plane.
  void read(std::uint32_t y0, std::uint16_t plane, std::uint8_t* out) {
    const std::uint32_t rows = bandRows(y0);
    const std::size_t bytes = std::size_t{rows} * planeRowBytes_;
    if (!tiled_) {
      const tmsize_t got = TIFFReadEncodedStrip(tif_, TIFFComputeStrip(tif_, y0, plane), out,
                                                static_cast<tmsize_t>(bytes));
      if (got < 0) FailWith(tiff_, kReadFailedMessage, "reading a strip failed");
      // A short strip leaves its tail black rather than undefined.
      if (static_cast<std::size_t>(got) < bytes) std::memset(out + got, 0, bytes - got);
      return;
    }
    const std::size_t pixelBits =
        std::size_t{layout_.bitsPerSample} * (layout_.separate ? 1 : layout_.samplesPerPixel);
    for (std::uint32_t x = 0; x < layout_.width; x += tileWidth_) {
      const tmsize_t got = TIFFReadEncodedTile(tif_, TIFFComputeTile(tif_, x, y0, 0, plane),
                                               tile_.data(), static_cast<tmsize_t>(tile_.size()));
      if (got < 0) FailWith(tiff_, kReadFailedMessage, "reading a tile failed");
      if (static_cast<std::size_t>(got) < tile_.size()) {
        std::memset(tile_.data() + got, 0, tile_.size() - got);
      }
      const std::size_t offset = std::size_t{x} * pixelBits / 8;
      const std::size_t count = std::min(tileRowBytes_, planeRowBytes_ - offset);
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::memcpy(out + r * planeRowBytes_ + offset, tile_.data() + r * tileRowBytes_, count);
      }
    }
  }

 private:
  TIFF* tif_;
  const OpenTiff& tiff_;
  Layout layout_;
  bool tiled_ = false;
  std::uint32_t bandHeight_ = 0;
  std::uint32_t tileWidth_ = 0;
  std::size_t planeRowBytes_ = 0;
  std::size_t tileRowBytes_ = 0;
  std::vector<std::uint8_t> tile_;
};

// Sample `index` of a row of packed samples, as its raw value (16-bit:
// the high byte already taken; 1–4-bit: the value as stored).
inline unsigned RawSample(const std::uint8_t* row, std::size_t index, int bits) {
  switch (bits) {
    case 8:
      return row[index];
    case 16: {
      std::uint16_t v;
      std::memcpy(&v, row + index * 2, 2);  // libtiff delivers native byte order
      return v >> 8;
    }
    default: {
      const std::size_t bit = index * static_cast<std::size_t>(bits);
      const unsigned shift = 8 - static_cast<unsigned>(bits) - (bit & 7);
      return (row[bit >> 3] >> shift) & ((1u << bits) - 1);
    }
  }
}

// RawSample scaled to 0–255.
inline std::uint8_t Sample8(const std::uint8_t* row, std::size_t index, int bits) {
  const unsigned v = RawSample(row, index, bits);
  if (bits >= 8) return static_cast<std::uint8_t>(v);
  return static_cast<std::uint8_t>(v * 255 / ((1u << bits) - 1));
}

// Calls convert(y, planeRows) for every row, where planeRows[p] points at
// the raw row of plane p (contiguous data: planeRows[0] only).
template <typename Convert>
void ForEachRow(TIFF* tif, const OpenTiff& tiff, const Layout& layout, int planes,
                Convert convert) {
  BandReader reader(tif, tiff, layout);
  const std::size_t bandBytes = std::size_t{reader.bandHeight()} * reader.planeRowBytes();
  std::vector<std::vector<std::uint8_t>> bands;
  for (int p = 0; p < planes; ++p) bands.push_back(AllocateBuffer(bandBytes));
  const std::uint8_t* planeRows[4] = {};
  for (std::uint32_t y0 = 0; y0 < layout.height; y0 += reader.bandHeight()) {
    for (int p = 0; p < planes; ++p)
      reader.read(y0, static_cast<std::uint16_t>(p), bands[p].data());
    const std::uint32_t rows = reader.bandRows(y0);
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (int p = 0; p < planes; ++p) planeRows[p] = bands[p].data() + r * reader.planeRowBytes();
      convert(static_cast<int>(y0 + r), planeRows);
    }
  }
}

PixelFormat PaletteFormatFor(int bits) {
  if (bits == 1) return PixelFormat::Indexed1;
  if (bits <= 4) return PixelFormat::Indexed4;
  return PixelFormat::Indexed8;
}

Bitmap NewBitmap(const Layout& layout, PixelFormat format) {
  CheckImageSize(layout.width, layout.height, format);
  return Bitmap(static_cast<int>(layout.width), static_cast<int>(layout.height), format);
}

// Grey (photometric 0/1) or palette (3) samples become indices. Extra samples
// after the first (grey with alpha) are skipped.
Bitmap ReadIndexed(TIFF* tif, const OpenTiff& tiff, const Layout& layout,
                   std::vector<PaletteEntry> palette) {
  const int bits = layout.bitsPerSample;
  const std::size_t stride = layout.separate ? 1 : layout.samplesPerPixel;
  Bitmap bitmap = NewBitmap(layout, PaletteFormatFor(bits));
  bitmap.setPalette(std::move(palette));
  const int width = bitmap.width();
  ForEachRow(tif, tiff, layout, 1, [&](int y, const std::uint8_t* const* in) {
    std::uint8_t* out = bitmap.row(y);
    const std::uint8_t* row = in[0];
    if (bits == 8 && stride == 1) {
      std::memcpy(out, row, static_cast<std::size_t>(width));
      return;
    }
    for (int x = 0; x < width; ++x) {
      out[x] = static_cast<std::uint8_t>(RawSample(row, x * stride, bits));
    }
  });
  return bitmap;
}

std::vector<PaletteEntry> GreyRamp(int bits, bool whiteIsZero) {
  const int levels = 1 << std::min(bits, 8);
  std::vector<PaletteEntry> ramp(static_cast<std::size_t>(levels));
  for (int i = 0; i < levels; ++i) {
    auto v = static_cast<std::uint8_t>(i * 255 / (levels - 1));
    if (whiteIsZero) v = static_cast<std::uint8_t>(255 - v);
    ramp[i] = {v, v, v};
  }
  return ramp;
}

// The ColorMap tag holds 16-bit values; some old writers stored 8-bit
// values there, recognisable by every entry being below 256.
std::vector<PaletteEntry> ReadColorMap(TIFF* tif, int bits) {
  std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
    throw CodecError(kPaletteMissingMessage);
  }
  const std::size_t count = std::size_t{1} << bits;
  bool eightBit = true;
  for (std::size_t i = 0; i < count && eightBit; ++i) {
    eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
  }
  const int shift = eightBit ? 0 : 8;
  std::vector<PaletteEntry> palette(count);
  for (std::size_t i = 0; i < count; ++i) {
    palette[i] = {static_cast<std::uint8_t>(blue[i] >> shift),
                  static_cast<std::uint8_t>(green[i] >> shift),
                  static_cast<std::uint8_t>(red[i] >> shift)};
  }
  return palette;
}

// 16-bit palette indices cannot live in an 8-bit palette bitmap without
// losing colours, so those images are expanded through the map to Bgr24.
Bitmap ReadWidePalette(TIFF* tif, const OpenTiff& tiff, const Layout& layout) {
  const std::vector<PaletteEntry> map = ReadColorMap(tif, 16);
  const std::size_t stride = layout.separate ? 1 : layout.samplesPerPixel;
  Bitmap bitmap = NewBitmap(layout, PixelFormat::Bgr24);
  const int width = bitmap.width();
  ForEachRow(tif, tiff, layout, 1, [&](int y, const std::uint8_t* const* in) {
    std::uint8_t* out = bitmap.row(y);
    for (int x = 0; x < width; ++x, out += 3) {
      std::uint16_t index;
      std::memcpy(&index, in[0] + x * stride * 2, 2);
      const PaletteEntry& c = map[index];
      out[0] = c.b;
      out[1] = c.g;
      out[2] = c.r;
    }
  });
  return bitmap;
}

Bitmap ReadRgb(TIFF* tif, const OpenTiff& tiff, const Layout& layout) {
  const int bits = layout.bitsPerSample;
  const bool alpha = layout.samplesPerPixel >= 4;
  const int channels = alpha ? 4 : 3;
  Bitmap bitmap = NewBitmap(layout, alpha ? PixelFormat::Bgrx32 : PixelFormat::Bgr24);
  const int width = bitmap.width();
  const std::size_t spp = layout.samplesPerPixel;
  const int planes = layout.separate ? channels : 1;
  ForEachRow(tif, tiff, layout, planes, [&](int y, const std::uint8_t* const* in) {
    std::uint8_t* out = bitmap.row(y);
    if (!layout.separate && bits == 8) {
      const std::uint8_t* s = in[0];
      for (int x = 0; x < width; ++x, s += spp, out += channels) {
        out[0] = s[2];
        out[1] = s[1];
        out[2] = s[0];
        if (alpha) out[3] = s[3];
      }
      return;
    }
    for (int x = 0; x < width; ++x, out += channels) {
      for (int c = 0; c < channels; ++c) {
        // Output order is B, G, R, A; samples are R, G, B, A.
        const int sample = c < 3 ? 2 - c : 3;
        out[c] =
            layout.separate ? Sample8(in[sample], x, bits) : Sample8(in[0], x * spp + sample, bits);
      }
    }
  });
  return bitmap;
}

// CMYK, YCbCr and CIELab through libtiff's RGBA reader.
Bitmap ReadConverted(TIFF* tif, const OpenTiff& tiff, const Layout& layout) {
  char why[1024] = {};
  if (!TIFFRGBAImageOK(tif, why)) FailWith(tiff, kColourMessage, why[0] ? why : "TIFFRGBAImageOK");
  // libtiff's RGBA raster is 4 bytes a pixel: check that size first.
  CheckImageSize(layout.width, layout.height, PixelFormat::Bgrx32);
  Bitmap bitmap = NewBitmap(layout, PixelFormat::Bgr24);
  std::vector<std::uint32_t> raster(std::size_t{layout.width} * layout.height);
  if (!TIFFReadRGBAImageOriented(tif, layout.width, layout.height, raster.data(),
                                 ORIENTATION_TOPLEFT, 1)) {
    FailWith(tiff, kReadFailedMessage, "reading the image failed");
  }
  const int width = bitmap.width();
  for (int y = 0; y < bitmap.height(); ++y) {
    const std::uint32_t* in = raster.data() + std::size_t{layout.width} * y;
    std::uint8_t* out = bitmap.row(y);
    for (int x = 0; x < width; ++x, out += 3) {
      out[0] = static_cast<std::uint8_t>(TIFFGetB(in[x]));
      out[1] = static_cast<std::uint8_t>(TIFFGetG(in[x]));
      out[2] = static_cast<std::uint8_t>(TIFFGetR(in[x]));
    }
  }
  return bitmap;
}

// The first directory as stored, once it has passed every check that needs
// no pixel.
struct Declared {
  std::uint32_t width = 0, height = 0;
  std::uint32_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  std::uint32_t compression = COMPRESSION_NONE;
  bool separate = false;
  bool tiled = false;
  std::uint32_t bandRows = 0;  // rows per strip, or the tile length
  std::uint32_t tileWidth = 0;
};

std::uint64_t DivUp(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

void CheckTableCount(const TiffDirectory& dir, std::uint16_t tag, const char* name,
                     std::uint64_t expected) {
  if (!dir.has(tag) || dir.count(tag) == expected) return;
  throw CodecError(kStripTableMessage, std::string(name) + " の数は " +
                                           std::to_string(dir.count(tag)) + " ですが、画像には " +
                                           std::to_string(expected) + " 個必要です");
}

// How many decoded units one stored byte can yield, and whether the units
// are pixels (else bytes).
std::pair<std::uint64_t, bool> Expansion(std::uint32_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return {expansion::kStored, false};
    case COMPRESSION_PACKBITS:
      return {expansion::kPackBits, false};
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return {expansion::kDeflate, false};
    case COMPRESSION_LZW:
      return {expansion::kLzw, false};
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
      return {expansion::kCcittPixels, true};
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG:
      return {expansion::kJpegPixels, true};
    case COMPRESSION_THUNDERSCAN:
      return {expansion::kThunderScan, false};
    default:
      return {expansion::kOther, false};
  }
}

// deep: 32-bit (float) samples are read too.
Declared CheckDirectory(const InputFile& file, bool deep = false) {
  const TiffDirectory dir(file);
  Declared d;
  if (!dir.has(TIFFTAG_IMAGEWIDTH) || !dir.has(TIFFTAG_IMAGELENGTH)) {
    throw CodecError(kDirectoryMessage, "ImageWidth or ImageLength is missing");
  }
  d.width = dir.value(TIFFTAG_IMAGEWIDTH, 0);
  d.height = dir.value(TIFFTAG_IMAGELENGTH, 0);
  if (std::string why = ZeroSizeReason(d.width, d.height); !why.empty()) {
    throw CodecError(kZeroSizeMessage, why);
  }
  d.bits = dir.value(TIFFTAG_BITSPERSAMPLE, 1);
  d.samples = dir.value(TIFFTAG_SAMPLESPERPIXEL, 1);
  d.compression = dir.value(TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  // libtiff guesses a missing photometric the same way.
  d.photometric =
      dir.value(TIFFTAG_PHOTOMETRIC, d.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  d.separate = dir.value(TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE &&
               d.samples > 1;
  if (d.bits != 1 && d.bits != 2 && d.bits != 4 && d.bits != 8 && d.bits != 16 &&
      !(deep && d.bits == 32)) {
    throw CodecError(kDepthMessage);
  }
  if (d.samples == 0) throw CodecError(kDirectoryMessage, "SamplesPerPixel is 0");

  if (d.photometric == PHOTOMETRIC_PALETTE) {
    const std::uint64_t needed = std::uint64_t{3} << d.bits;
    if (!dir.has(TIFFTAG_COLORMAP)) throw CodecError(kPaletteMissingMessage);
    if (dir.count(TIFFTAG_COLORMAP) != needed) {
      throw CodecError(kPaletteSizeMessage, "ColorMap の値は " +
                                                std::to_string(dir.count(TIFFTAG_COLORMAP)) +
                                                " 個ですが、" + std::to_string(d.bits) +
                                                " ビットには 3 × " + std::to_string(needed / 3) +
                                                " = " + std::to_string(needed) + " 個必要です");
    }
  }

  const std::uint64_t planes = d.separate ? d.samples : 1;
  d.tiled = dir.has(TIFFTAG_TILEWIDTH) && dir.has(TIFFTAG_TILELENGTH);
  if (d.tiled) {
    d.tileWidth = dir.value(TIFFTAG_TILEWIDTH, 0);
    d.bandRows = dir.value(TIFFTAG_TILELENGTH, 0);
    if (d.tileWidth == 0 || d.bandRows == 0) throw CodecError(kDirectoryMessage, "tile size 0");
    const std::uint64_t tiles = DivUp(d.width, d.tileWidth) * DivUp(d.height, d.bandRows) * planes;
    CheckTableCount(dir, TIFFTAG_TILEOFFSETS, "TileOffsets", tiles);
    CheckTableCount(dir, TIFFTAG_TILEBYTECOUNTS, "TileByteCounts", tiles);
  } else {
    const std::uint32_t rows = dir.value(TIFFTAG_ROWSPERSTRIP, 0xFFFFFFFFu);
    d.bandRows = rows == 0 || rows > d.height ? d.height : rows;
    const std::uint64_t strips = DivUp(d.height, d.bandRows) * planes;
    CheckTableCount(dir, TIFFTAG_STRIPOFFSETS, "StripOffsets", strips);
    CheckTableCount(dir, TIFFTAG_STRIPBYTECOUNTS, "StripByteCounts", strips);
  }

  if (d.compression > 0xFFFF || !TIFFIsCODECConfigured(static_cast<std::uint16_t>(d.compression))) {
    throw CodecError(kCompressionMessage, "Compression " + std::to_string(d.compression));
  }
  const std::uint64_t rowBytes = d.separate ? DivUp(std::uint64_t{d.width} * d.bits, 8) * d.samples
                                            : DivUp(std::uint64_t{d.width} * d.bits * d.samples, 8);
  const auto [perByte, pixels] = Expansion(d.compression);
  const std::uint64_t declared = pixels ? std::uint64_t{d.width} * d.height : rowBytes * d.height;
  if (std::string why = DataBoundReason(declared, file.size(), perByte, d.width, d.height);
      !why.empty()) {
    throw CodecError(kTooLittleDataMessage, why);
  }
  return d;
}

PixelFormat LoadedFormat(const Declared& d) {
  switch (d.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      return PaletteFormatFor(static_cast<int>(d.bits));
    case PHOTOMETRIC_PALETTE:
      return d.bits == 16 ? PixelFormat::Bgr24 : PaletteFormatFor(static_cast<int>(d.bits));
    case PHOTOMETRIC_RGB:
      return d.samples >= 4 ? PixelFormat::Bgrx32 : PixelFormat::Bgr24;
    default:
      return PixelFormat::Bgr24;
  }
}

bool ReadThroughRgba(std::uint32_t photometric) {
  return photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_YCBCR ||
         photometric == PHOTOMETRIC_CIELAB;
}

[[noreturn]] void PhotometricNotSupported(unsigned photometric) {
  char text[128];
  std::snprintf(text, sizeof text,
                "Cannot load image. Photometric interpretation %u is not supported.", photometric);
  throw CodecError(text);
}

ImageHeader ProbeTiff(const InputFile& file) {
  const Declared d = CheckDirectory(file);
  switch (d.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
      break;
    default:
      PhotometricNotSupported(d.photometric);
  }
  ImageHeader info;
  info.format = "TIFF";
  info.width = d.width;
  info.height = d.height;
  info.channels = static_cast<int>(d.samples);
  info.bitsPerSample = static_cast<int>(d.bits);
  info.bitsPerPixel = static_cast<int>(d.bits * d.samples);
  info.loadedFormat = LoadedFormat(d);
  CheckImageSize(d.width, d.height, info.loadedFormat);
  const std::uint64_t pixels = std::uint64_t{d.width} * d.height;
  info.bitmapBytes = pixels * static_cast<std::uint64_t>(BytesPerPixel(info.loadedFormat));
  // One band of every plane and libtiff's buffer for it, a tile, and the
  // colour raster of the converted kinds.
  const std::uint64_t pixelBits = std::uint64_t{d.bits} * d.samples;
  const std::uint64_t band = DivUp(std::uint64_t{d.width} * pixelBits, 8) * d.bandRows;
  const std::uint64_t tile =
      d.tiled ? DivUp(std::uint64_t{d.tileWidth} * pixelBits, 8) * d.bandRows : 0;
  info.peakBytes =
      info.bitmapBytes + 2 * band + 2 * tile + (ReadThroughRgba(d.photometric) ? pixels * 4 : 0);
  info.fileBytes = file.size();
  return info;
}

// Grey or RGB (, alpha) of 16-bit or float samples as Rgb48 / Rgba64 /
// RgbF96 / RgbaF128; grey is spread to R = G = B.
Bitmap ReadDeep(TIFF* tif, const OpenTiff& tiff, const Layout& layout, bool isFloat,
                bool whiteIsZero) {
  const bool grey = layout.samplesPerPixel < 3;
  const bool alpha = grey ? layout.samplesPerPixel == 2 : layout.samplesPerPixel >= 4;
  const PixelFormat format = DirectFormat(isFloat ? SampleType::F32 : SampleType::U16, alpha);
  Bitmap bitmap = NewBitmap(layout, format);
  const int channels = ChannelCount(format);
  const int colour = grey ? 1 : 3;
  const int stored = colour + (alpha ? 1 : 0);
  const std::size_t spp = layout.samplesPerPixel;
  const int planes = layout.separate ? stored : 1;
  const int width = bitmap.width();
  ForEachRow(tif, tiff, layout, planes, [&](int y, const std::uint8_t* const* in) {
    std::uint8_t* out = bitmap.row(y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int sample = c < 3 ? (grey ? 0 : c) : colour;
        const std::uint8_t* from =
            layout.separate ? in[sample] + std::size_t{static_cast<unsigned>(x)} * (isFloat ? 4 : 2)
                            : in[0] + (x * spp + sample) * (isFloat ? 4 : 2);
        std::uint8_t* to = out + (static_cast<std::size_t>(x) * channels + c) * (isFloat ? 4 : 2);
        if (isFloat) {
          float v;
          std::memcpy(&v, from, 4);
          if (whiteIsZero && c < 3) v = 1.0f - v;
          std::memcpy(to, &v, 4);
        } else {
          std::uint16_t v;
          std::memcpy(&v, from, 2);
          if (whiteIsZero && c < 3) v = static_cast<std::uint16_t>(65535 - v);
          std::memcpy(to, &v, 2);
        }
      }
    }
  });
  return bitmap;
}

void LoadTiff(const InputFile& file, Bitmap& bitmap, bool deep = false) {
  CheckDirectory(file, deep);
  OpenTiff tiff;
  Open(file, tiff);
  TIFF* tif = tiff.handle.get();

  Layout layout;
  std::uint16_t planar = PLANARCONFIG_CONTIG, photometric = 0, sampleFormat = SAMPLEFORMAT_UINT;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) ||
      !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
    throw CodecError(kDirectoryMessage);
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  layout.separate = planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;

  const int bits = layout.bitsPerSample;
  if (layout.width == 0 || layout.height == 0 || layout.samplesPerPixel == 0) {
    throw CodecError(kDirectoryMessage);
  }
  const bool isFloat = sampleFormat == SAMPLEFORMAT_IEEEFP && bits == 32;
  if (deep &&
      (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_MINISBLACK ||
       photometric == PHOTOMETRIC_MINISWHITE) &&
      ((bits == 16 && sampleFormat != SAMPLEFORMAT_IEEEFP) || isFloat)) {
    if (photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel < 3) {
      throw CodecError(kDirectoryMessage);
    }
    Bitmap result = ReadDeep(tif, tiff, layout, isFloat, photometric == PHOTOMETRIC_MINISWHITE);
    bitmap.swap(result);
    return;
  }
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) {
    throw CodecError(kDepthMessage);
  }
  if (sampleFormat == SAMPLEFORMAT_IEEEFP || sampleFormat == SAMPLEFORMAT_COMPLEXIEEEFP ||
      sampleFormat == SAMPLEFORMAT_COMPLEXINT) {
    throw CodecError("Cannot load image. Floating-point and complex samples are not supported.");
  }

  Bitmap result;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      result =
          ReadIndexed(tif, tiff, layout, GreyRamp(bits, photometric == PHOTOMETRIC_MINISWHITE));
      break;
    case PHOTOMETRIC_PALETTE:
      result = bits == 16 ? ReadWidePalette(tif, tiff, layout)
                          : ReadIndexed(tif, tiff, layout, ReadColorMap(tif, bits));
      break;
    case PHOTOMETRIC_RGB:
      if (layout.samplesPerPixel < 3) throw CodecError(kDirectoryMessage);
      result = ReadRgb(tif, tiff, layout);
      break;
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
      result = ReadConverted(tif, tiff, layout);
      break;
    default:
      PhotometricNotSupported(photometric);
  }
  if (deep && result.format() == PixelFormat::Bgrx32) {
    // The fourth sample is alpha: kept as such (the same bytes).
    Bitmap alpha(result.width(), result.height(), PixelFormat::Bgra32, Uninitialised{},
                 result.pool());
    std::memcpy(alpha.data(), result.data(), result.byteSize());
    result.swap(alpha);
  }
  bitmap.swap(result);
}

class TiffDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "TIFF"; }

  // At least 9 bytes, "II" or "MM", 42 in that byte order, and a first
  // directory offset inside the stream.
  bool canRead(std::istream& stream) const override {
    const std::uint64_t remaining = RemainingBytes(stream);
    if (remaining < 9) return false;
    const auto h = PeekBytes(stream, 8);
    if (h.size() < 8) return false;
    std::uint32_t magic = 0, offset = 0;
    if (h[0] == 'I' && h[1] == 'I') {
      magic = h[2] | h[3] << 8;
      offset = std::uint32_t{h[4]} | std::uint32_t{h[5]} << 8 | std::uint32_t{h[6]} << 16 |
               std::uint32_t{h[7]} << 24;
    } else if (h[0] == 'M' && h[1] == 'M') {
      magic = h[2] << 8 | h[3];
      offset = std::uint32_t{h[4]} << 24 | std::uint32_t{h[5]} << 16 | std::uint32_t{h[6]} << 8 |
               std::uint32_t{h[7]};
    } else {
      return false;
    }
    return magic == 42 && offset < remaining;
  }

  void load(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    LoadTiff(file, bitmap);
  }
  void loadDeep(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    LoadTiff(file, bitmap, true);
  }
  ImageHeader probe(const InputFile& file) const override { return ProbeTiff(file); }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakeTiffDecoder() { return std::make_unique<TiffDecoder>(); }

}  // namespace skyfold
