// Windows BMP reader and 24-bit writer.
//
// The reader parses the file header and the core (12-byte) or information
// (40-byte and longer) header, works out where the palette and the pixels
// are, checks every size in 64 bits against the buffer and the bitmap limits,
// and only then allocates. Palette images keep one index byte per pixel,
// 24 and 32 bits are copied as stored, 16 bits (which the bitmap has no
// format for) become B, G, R through the bit-field masks. RLE data is
// decoded by a bounded loop that consumes at least two bytes per step, so a
// hostile file can neither run outside the buffer nor hang it.
#include "imaging/BmpIO.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/InputFile.h"
#include "imaging/OutputFile.h"
#include "imaging/PathUtils.h"
#include "imaging/SourceLimits.h"

namespace skyfold {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
// The longest header we take (version 5 is 124 bytes); with the masks and
// the largest palette, everything before the pixels lies in the first
// kHeadBytes of a file.
constexpr std::uint32_t kMaxHeaderSize = 4096;
constexpr std::size_t kHeadBytes = kFileHeaderSize + kMaxHeaderSize + 16 + 256 * 4;

enum Compression : std::uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitFields = 3,
  kAlphaBitFields = 6,
};

// An RLE stream describes at most this many pixels per compressed byte (runs
// reach 127.5; the rest allows for generous use of delta escapes), with a
// floor for small images. It keeps a few bytes from demanding gigabytes.
constexpr std::int64_t kMaxRlePixelsPerByte = 1024;
constexpr std::int64_t kMinRlePixelLimit = std::int64_t{1} << 22;

// Every refusal keeps the one text users know; the reason, where we can
// name it, goes into the detail.
[[noreturn]] void Invalid(const std::string& why = {}) {
  throw CodecError("ビットマップイメージが不正です", why);
}

// Bounds-checked little-endian reads from the file buffer.
class Bytes {
 public:
  // data holds the first size bytes of a file of fileSize bytes.
  Bytes(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize)
      : data_(data), size_(size), fileSize_(fileSize) {}
  Bytes(const std::uint8_t* data, std::size_t size) : Bytes(data, size, size) {}
  std::size_t size() const { return size_; }
  std::uint64_t fileSize() const { return fileSize_; }
  const std::uint8_t* at(std::uint64_t offset, std::uint64_t length) const {
    if (offset > size_ || length > size_ - offset) Invalid();
    return data_ + offset;
  }
  std::uint16_t u16(std::uint64_t offset) const {
    const std::uint8_t* p = at(offset, 2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  std::uint32_t u32(std::uint64_t offset) const {
    const std::uint8_t* p = at(offset, 4);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::uint64_t fileSize_;
};

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = kRgb;
  std::array<std::uint32_t, 4> masks{};  // R, G, B, A
  bool hasMasks = false;
  std::vector<PaletteEntry> palette;
  std::uint64_t dataOffset = 0;
};

Header ParseHeader(const Bytes& in) {
  const std::uint8_t* magic = in.at(0, 2);
  if (magic[0] != 'B' || magic[1] != 'M') Invalid();
  const std::uint32_t offBits = in.u32(10);
  const std::uint32_t headerSize = in.u32(kFileHeaderSize);
  Header h;
  int entrySize = 4;
  std::uint32_t colorsUsed = 0;
  int planes = 0;
  if (headerSize == kCoreHeaderSize) {
    h.width = in.u16(18);
    h.height = in.u16(20);
    planes = in.u16(22);
    h.bits = in.u16(24);
    entrySize = 3;
  } else if (headerSize >= kInfoHeaderSize && headerSize <= kMaxHeaderSize) {
    in.at(kFileHeaderSize, headerSize);
    h.width = static_cast<std::int32_t>(in.u32(18));
    h.height = static_cast<std::int32_t>(in.u32(22));
    planes = in.u16(26);
    h.bits = in.u16(28);
    h.compression = in.u32(30);
    colorsUsed = in.u32(46);
  } else {
    Invalid();
  }
  if (planes != 1 || h.width < 0) Invalid();
  if (h.height < 0) {
    h.height = -h.height;
    h.topDown = true;
  }
  if (std::string why = ZeroSizeReason(h.width, h.height); !why.empty()) Invalid(why);

  switch (h.compression) {
    case kRgb:
      if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8 && h.bits != 16 &&
          h.bits != 24 && h.bits != 32) {
        Invalid();
      }
      break;
    case kRle8:
      if (h.bits != 8 || h.topDown) Invalid();
      break;
    case kRle4:
      if (h.bits != 4 || h.topDown) Invalid();
      break;
    case kBitFields:
    case kAlphaBitFields:
      if (h.bits != 16 && h.bits != 32) Invalid();
      break;
    default:
      Invalid();  // JPEG or PNG inside a BMP, or an unknown scheme
  }

  // The masks follow a 40-byte header and lie inside the longer ones; in
  // both cases they start right after the first 40 bytes.
  std::uint64_t paletteStart = kFileHeaderSize + headerSize;
  const std::uint64_t masksAt = kFileHeaderSize + kInfoHeaderSize;
  if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
    const int count = h.compression == kAlphaBitFields || headerSize >= 56 ? 4 : 3;
    for (int i = 0; i < count; ++i) h.masks[i] = in.u32(masksAt + 4 * i);
    paletteStart = std::max<std::uint64_t>(paletteStart, masksAt + 4 * count);
    h.hasMasks = true;
  }

  std::uint64_t paletteEnd = paletteStart;
  if (h.bits <= 8) {
    const std::uint32_t maxColors = 1u << h.bits;
    std::uint32_t colors = colorsUsed == 0 ? maxColors : std::min(colorsUsed, maxColors);
    if (offBits != 0) {
      // Core files in particular often store fewer entries than the depth
      // allows; the pixel offset tells how many are there.
      if (offBits < paletteStart) Invalid();
      colors = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(colors, (offBits - paletteStart) / entrySize));
    }
    if (colors == 0) Invalid("パレットがありません");
    const std::uint8_t* p = in.at(paletteStart, std::uint64_t{colors} * entrySize);
    h.palette.resize(colors);
    for (std::uint32_t i = 0; i < colors; ++i, p += entrySize) {
      h.palette[i] = PaletteEntry{p[0], p[1], p[2]};
    }
    paletteEnd = paletteStart + std::uint64_t{colors} * entrySize;
  }
  h.dataOffset = offBits != 0 ? offBits : paletteEnd;
  if (h.dataOffset < kFileHeaderSize + headerSize || h.dataOffset > in.fileSize()) Invalid();
  return h;
}

PixelFormat FormatFor(int bits) {
  switch (bits) {
    case 1:
      return PixelFormat::Indexed1;
    case 2:
    case 4:
      return PixelFormat::Indexed4;
    case 8:
      return PixelFormat::Indexed8;
    case 32:
      return PixelFormat::Bgrx32;
    default:
      return PixelFormat::Bgr24;  // 16 and 24
  }
}

// One colour channel of a bit-field pixel, scaled to 8 bits.
class MaskChannel {
 public:
  explicit MaskChannel(std::uint32_t mask) : mask_(mask) {
    if (mask == 0) return;
    shift_ = std::countr_zero(mask);
    const std::uint32_t bits = mask >> shift_;
    if ((bits & (bits + 1)) != 0) Invalid();  // not one contiguous run
    const int width = std::popcount(bits);
    if (width > 8) {
      shift_ += width - 8;
    }
    const int kept = std::min(width, 8);
    const std::uint32_t max = (1u << kept) - 1;
    for (std::uint32_t v = 0; v <= max; ++v) {
      scale_[v] = static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
    keep_ = max;
  }
  std::uint8_t operator()(std::uint32_t pixel) const {
    return scale_[((pixel & mask_) >> shift_) & keep_];
  }

 private:
  std::uint32_t mask_;
  int shift_ = 0;
  std::uint32_t keep_ = 0;
  std::array<std::uint8_t, 256> scale_{};
};

void UnpackIndexes(const std::uint8_t* src, std::uint8_t* dst, std::int64_t width, int bits) {
  const int perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (std::int64_t x = 0; x < width; ++x) {
    const int slot = static_cast<int>(x % perByte);
    dst[x] = static_cast<std::uint8_t>(src[x / perByte] >> (8 - bits * (slot + 1)) & mask);
  }
}

std::uint64_t StoredRowBytes(const Header& h) {
  return (static_cast<std::uint64_t>(h.width) * h.bits + 31) / 32 * 4;
}

// Bytes of uncompressed pixel data (a non-empty image): the padding of the
// last row may be missing, the pixels may not.
std::uint64_t PixelDataBytes(const Header& h) {
  const std::uint64_t used = (static_cast<std::uint64_t>(h.width) * h.bits + 7) / 8;
  return StoredRowBytes(h) * (static_cast<std::uint64_t>(h.height) - 1) + used;
}

void DecodeUncompressed(const Bytes& in, const Header& h, Bitmap& bmp) {
  const std::uint64_t width = static_cast<std::uint64_t>(h.width);
  const std::uint64_t height = static_cast<std::uint64_t>(h.height);
  const std::uint64_t stride = StoredRowBytes(h);
  const std::uint64_t used = (width * h.bits + 7) / 8;
  const std::uint8_t* base = in.at(h.dataOffset, PixelDataBytes(h));

  const bool plain32 =
      h.bits == 32 && (!h.hasMasks || (h.masks[0] == 0x00FF0000u && h.masks[1] == 0x0000FF00u &&
                                       h.masks[2] == 0x000000FFu));
  std::array<std::uint32_t, 4> masks = h.masks;
  if (h.bits == 16 && !h.hasMasks) masks = {0x7C00u, 0x03E0u, 0x001Fu, 0};
  const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);

  for (std::uint64_t i = 0; i < height; ++i) {
    const std::uint8_t* src = base + stride * i;
    const int y = static_cast<int>(h.topDown ? i : height - 1 - i);
    std::uint8_t* dst = bmp.row(y);
    switch (h.bits) {
      case 1:
      case 2:
      case 4:
        UnpackIndexes(src, dst, h.width, h.bits);
        break;
      case 8:
      case 24:
        std::memcpy(dst, src, used);
        break;
      case 16:
        for (std::uint64_t x = 0; x < width; ++x, src += 2, dst += 3) {
          const std::uint32_t v = static_cast<std::uint32_t>(src[0] | src[1] << 8);
          dst[0] = blue(v);
          dst[1] = green(v);
          dst[2] = red(v);
        }
        break;
      case 32:
        if (plain32) {
          std::memcpy(dst, src, used);
        } else {
          for (std::uint64_t x = 0; x < width; ++x, src += 4, dst += 4) {
            const std::uint32_t v =
                static_cast<std::uint32_t>(src[0]) | static_cast<std::uint32_t>(src[1]) << 8 |
                static_cast<std::uint32_t>(src[2]) << 16 | static_cast<std::uint32_t>(src[3]) << 24;
            dst[0] = blue(v);
            dst[1] = green(v);
            dst[2] = red(v);
            dst[3] = alpha(v);
          }
        }
        break;
    }
  }
}

// RLE rows run bottom-up; escapes: 0 0 end of line, 0 1 end of bitmap,
// 0 2 dx dy delta, 0 n absolute run of n pixels (padded to a word).
void DecodeRle(const Bytes& in, const Header& h, Bitmap& bmp) {
  const std::int64_t width = h.width;
  const std::int64_t height = h.height;
  const bool rle4 = h.compression == kRle4;
  std::size_t p = static_cast<std::size_t>(h.dataOffset);
  const std::size_t end = in.size();
  const std::uint8_t* data = in.at(0, end);
  std::int64_t x = 0;
  std::int64_t y = 0;  // counted from the bottom row

  // Pixels the stream skips take index 0.
  for (int row = 0; row < bmp.height(); ++row) std::memset(bmp.row(row), 0, bmp.rowBytes());

  auto target = [&](std::int64_t count) {
    if (y >= height || count > width - x) Invalid();
    return bmp.row(static_cast<int>(height - 1 - y)) + x;
  };

  while (true) {
    if (end - p < 2) {
      if (y >= height) break;  // every row done; the end marker is missing
      Invalid();
    }
    const std::uint8_t first = data[p];
    const std::uint8_t second = data[p + 1];
    p += 2;
    if (first > 0) {
      std::uint8_t* dst = target(first);
      if (rle4) {
        const std::uint8_t hi = second >> 4, lo = second & 0x0F;
        for (int i = 0; i < first; ++i) dst[i] = (i & 1) ? lo : hi;
      } else {
        std::memset(dst, second, first);
      }
      x += first;
    } else if (second == 0) {
      x = 0;
      if (++y > height) Invalid();
    } else if (second == 1) {
      break;
    } else if (second == 2) {
      if (end - p < 2) Invalid();
      x += data[p];
      y += data[p + 1];
      p += 2;
      if (x > width || y > height) Invalid();
    } else {
      const int count = second;
      const std::size_t bytes = rle4 ? (count + 1) / 2 : count;
      if (end - p < bytes) Invalid();
      std::uint8_t* dst = target(count);
      const std::uint8_t* src = data + p;
      if (rle4) {
        for (int i = 0; i < count; ++i) {
          dst[i] = (i & 1) ? (src[i / 2] & 0x0F) : (src[i / 2] >> 4);
        }
      } else {
        std::memcpy(dst, src, count);
      }
      x += count;
      // Absolute runs are padded to an even byte count; a missing final
      // pad byte at the very end is tolerated.
      p = std::min(end, p + bytes + (bytes & 1));
    }
  }
}

void CheckPaletteIndexes(const Bitmap& bmp) {
  const std::size_t colors = bmp.palette().size();
  if (colors >= 256) return;
  for (int y = 0; y < bmp.height(); ++y) {
    const std::uint8_t* row = bmp.row(y);
    const std::uint8_t highest = *std::max_element(row, row + bmp.width());
    if (highest >= colors) {
      Invalid("パレットは " + std::to_string(colors) + " 色しかないのに、" +
              std::to_string(highest) + " 番の色を使う画素があります");
    }
  }
}

bool IsRle(const Header& h) { return h.compression == kRle8 || h.compression == kRle4; }

// The header, with every check that needs no pixel: sizes, and whether the
// file can hold (or, for RLE, describe) that many pixels.
Header CheckedHeader(const Bytes& in) {
  const Header h = ParseHeader(in);
  const PixelFormat format = FormatFor(h.bits);
  if (std::string why = TooLargeReason(h.width, h.height, format); !why.empty()) Invalid(why);
  const std::uint64_t stored = in.fileSize() - h.dataOffset;
  if (IsRle(h)) {
    const std::int64_t pixels = h.width * h.height;
    if (pixels > std::max<std::int64_t>(kMinRlePixelLimit,
                                        kMaxRlePixelsPerByte * static_cast<std::int64_t>(stored))) {
      Invalid(DataBoundReason(static_cast<std::uint64_t>(pixels), stored, kMaxRlePixelsPerByte,
                              h.width, h.height));
    }
  } else if (stored < PixelDataBytes(h)) {
    // Uncompressed pixels must all be in the file before we allocate for them.
    Invalid(SizeText(h.width, h.height) + " 画素の画像には " + std::to_string(PixelDataBytes(h)) +
            " バイト必要ですが、ファイルには " + std::to_string(stored) + " バイトしかありません");
  }
  return h;
}

ImageHeader Describe(const Header& h, std::uint64_t fileSize) {
  ImageHeader info;
  info.format = "BMP";
  info.width = h.width;
  info.height = h.height;
  info.bitsPerPixel = h.bits;
  info.channels = h.bits <= 8 ? 1 : h.bits == 32 ? 4 : 3;
  info.bitsPerSample = h.bits <= 8 ? h.bits : h.bits == 16 ? 5 : 8;
  info.loadedFormat = FormatFor(h.bits);
  info.bitmapBytes = static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height) *
                     static_cast<std::uint64_t>(BytesPerPixel(info.loadedFormat));
  info.fileBytes = fileSize;
  info.peakBytes = info.bitmapBytes + fileSize;  // the whole file is read first
  return info;
}

}  // namespace

void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap) {
  if (data == nullptr) Invalid();
  const Bytes in(data, size);
  const Header h = CheckedHeader(in);
  const PixelFormat format = FormatFor(h.bits);

  Bitmap result(static_cast<int>(h.width), static_cast<int>(h.height), format);
  if (IsIndexed(format)) result.setPalette(h.palette);
  if (IsRle(h)) {
    DecodeRle(in, h, result);
  } else {
    DecodeUncompressed(in, h, result);
  }
  if (IsIndexed(format)) CheckPaletteIndexes(result);
  bitmap.swap(result);
}

ImageHeader ProbeBmp(const InputFile& file) {
  const std::vector<std::uint8_t> head = file.head(kHeadBytes);
  const Bytes in(head.data(), head.size(), file.size());
  return Describe(CheckedHeader(in), file.size());
}

void ReadBmp(const InputFile& file, Bitmap& bitmap) {
  // The header is judged before the file is read whole: a refused size
  // costs no more than its first bytes.
  ProbeBmp(file);
  // No valid BMP is much larger than the largest bitmap we allocate.
  if (file.size() > static_cast<std::uint64_t>(kMaxBitmapBytes) + (1u << 20)) Invalid();
  const std::vector<std::uint8_t> buffer = file.readAll();
  DecodeBmp(buffer.data(), buffer.size(), bitmap);
}

void ReadBmpFile(const std::string& fileName, Bitmap& bitmap) {
  const InputFile file(fileName);
  ReadBmp(file, bitmap);
}

namespace {

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Fills dst with the B, G, R bytes of one bitmap row.
void RowToBgr(const Bitmap& bitmap, int y, const std::array<PaletteEntry, 256>& lut,
              std::uint8_t* dst) {
  const std::uint8_t* src = bitmap.row(y);
  const int width = bitmap.width();
  switch (bitmap.format()) {
    case PixelFormat::Bgr24:
      std::memcpy(dst, src, static_cast<std::size_t>(width) * 3);
      break;
    case PixelFormat::Bgrx32:
      for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      break;
    default:
      for (int x = 0; x < width; ++x, dst += 3) {
        const PaletteEntry& c = lut[src[x]];
        dst[0] = c.b;
        dst[1] = c.g;
        dst[2] = c.r;
      }
      break;
  }
}

}  // namespace

void SaveBitmapAsBmp(const std::string& fileName, const Bitmap& bitmap, OutputCommit* commit) {
  const std::uint64_t width = static_cast<std::uint64_t>(bitmap.width());
  const std::uint64_t height = static_cast<std::uint64_t>(bitmap.height());
  const std::uint64_t stride = (width * 3 + 3) / 4 * 4;
  const std::uint64_t headersSize = kFileHeaderSize + kInfoHeaderSize;
  const std::uint64_t fileSize = headersSize + stride * height;
  // The size fields are 32 bits wide; a larger file could not be read back.
  if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
    throw FileError("ファイル \"" + ExpandFileName(fileName) +
                    "\" に書き込めません。画像が大きすぎて BMP で保存できません。");
  }

  std::array<std::uint8_t, headersSize> header{};
  header[0] = 'B';
  header[1] = 'M';
  PutU32(&header[2], static_cast<std::uint32_t>(fileSize));
  PutU32(&header[10], static_cast<std::uint32_t>(headersSize));
  PutU32(&header[14], kInfoHeaderSize);
  PutU32(&header[18], static_cast<std::uint32_t>(width));
  PutU32(&header[22], static_cast<std::uint32_t>(height));
  PutU16(&header[26], 1);   // planes
  PutU16(&header[28], 24);  // bits per pixel
  PutU32(&header[34], static_cast<std::uint32_t>(stride * height));

  std::array<PaletteEntry, 256> lut{};
  const auto& palette = bitmap.palette();
  std::copy_n(palette.begin(), std::min<std::size_t>(palette.size(), lut.size()), lut.begin());

  OutputFile out(fileName, commit);
  out.write(header.data(), header.size());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(stride), 0);
  for (std::uint64_t i = 0; i < height; ++i) {
    RowToBgr(bitmap, static_cast<int>(height - 1 - i), lut, row.data());
    out.write(row.data(), row.size());
  }
  out.close();
}

}  // namespace skyfold
