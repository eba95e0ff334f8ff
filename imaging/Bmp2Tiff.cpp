// The TIFF writer. Every offset of the fixed layout follows from the image
// size, so the file is written front to back: header (directory offset 8 as
// a placeholder), the two resolution values, BitsPerSample, the Software
// text, the pixel rows (R, G, B, converted one row at a time into a single
// row buffer), the directory, and finally the patched header field.
#include "imaging/Bmp2Tiff.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/OutputFile.h"
#include "imaging/PathUtils.h"

namespace skyfold {

namespace {

constexpr std::uint32_t kHeaderSize = 8;
constexpr std::uint32_t kPixelOffset = 40;
constexpr std::uint32_t kEntryCount = 15;
constexpr std::uint32_t kDirectorySize = 2 + kEntryCount * 12 + 4;
constexpr char kSoftware[] = "Vemri soft";
constexpr std::uint32_t kSoftwareLength = sizeof(kSoftware) - 1;  // no NUL in the file
static_assert(kHeaderSize + 8 + 8 + 6 + kSoftwareLength == kPixelOffset);

enum FieldType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

constexpr char kTooLarge[] = "TIFF の画像は幅も高さも 65535 ピクセル以下でなければなりません。";

// ImageWidth and ImageLength are SHORT fields and every offset is a LONG.
bool TiffSizeAllowed(const Bitmap& bitmap) {
  const std::uint64_t pixelBytes = std::uint64_t{3} * static_cast<std::uint64_t>(bitmap.width()) *
                                   static_cast<std::uint64_t>(bitmap.height());
  return bitmap.width() <= 0xFFFF && bitmap.height() <= 0xFFFF &&
         kPixelOffset + pixelBytes + kDirectorySize <= 0xFFFFFFFFu;
}

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Converts one bitmap row to R, G, B.
void RowToRgb(const Bitmap& bitmap, int y, const std::array<PaletteEntry, 256>& lut,
              std::uint8_t* dst) {
  const std::uint8_t* src = bitmap.row(y);
  const int width = bitmap.width();
  switch (bitmap.format()) {
    case PixelFormat::Bgr24:
    case PixelFormat::Bgrx32: {
      const int step = bitmap.bytesPerPixel();
      for (int x = 0; x < width; ++x, src += step, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
      break;
    }
    default:
      for (int x = 0; x < width; ++x, dst += 3) {
        const PaletteEntry& c = lut[src[x]];
        dst[0] = c.r;
        dst[1] = c.g;
        dst[2] = c.b;
      }
      break;
  }
}

// Writes the whole layout through sink (write(data, size) and seek(offset)).
template <typename Sink>
void WriteTiff(Sink& sink, const Bitmap& bitmap) {
  if (bitmap.empty()) return;
  const std::uint32_t width = static_cast<std::uint32_t>(bitmap.width());
  const std::uint32_t height = static_cast<std::uint32_t>(bitmap.height());
  const std::uint32_t rowBytes = 3 * width;
  const std::uint32_t pixelBytes = rowBytes * height;

  std::array<std::uint8_t, kPixelOffset> head{};
  head[0] = 'I';
  head[1] = 'I';
  PutU16(&head[2], 42);
  PutU32(&head[4], kHeaderSize);  // patched at the end
  PutU32(&head[8], 877);          // XResolution 87.7
  PutU32(&head[12], 10);
  PutU32(&head[16], 877);  // YResolution 87.7
  PutU32(&head[20], 10);
  PutU16(&head[24], 8);  // BitsPerSample 8, 8, 8
  PutU16(&head[26], 8);
  PutU16(&head[28], 8);
  std::memcpy(&head[30], kSoftware, kSoftwareLength);
  // The small blocks go in their own write calls.
  sink.write(&head[0], 8);
  sink.write(&head[8], 8);
  sink.write(&head[16], 8);
  sink.write(&head[24], 6);
  sink.write(&head[30], kSoftwareLength);

  std::array<PaletteEntry, 256> lut{};
  const auto& palette = bitmap.palette();
  std::copy_n(palette.begin(), std::min<std::size_t>(palette.size(), lut.size()), lut.begin());
  std::vector<std::uint8_t> row(rowBytes);
  for (int y = 0; y < bitmap.height(); ++y) {
    RowToRgb(bitmap, y, lut, row.data());
    sink.write(row.data(), row.size());
  }

  const std::uint32_t directoryOffset = kPixelOffset + pixelBytes;
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  const std::array<Entry, kEntryCount> entries{{
      {254, kLong, 1, 0},                  // NewSubfileType
      {256, kShort, 1, width},             // ImageWidth
      {257, kShort, 1, height},            // ImageLength
      {258, kShort, 3, 24},                // BitsPerSample
      {259, kShort, 1, 1},                 // Compression: none
      {262, kShort, 1, 2},                 // PhotometricInterpretation: RGB
      {273, kLong, 1, kPixelOffset},       // StripOffsets
      {277, kShort, 1, 3},                 // SamplesPerPixel
      {278, kLong, 1, height},             // RowsPerStrip
      {279, kLong, 1, pixelBytes},         // StripByteCounts
      {282, kRational, 1, 8},              // XResolution
      {283, kRational, 1, 16},             // YResolution
      {284, kShort, 1, 1},                 // PlanarConfiguration: contiguous
      {296, kShort, 1, 2},                 // ResolutionUnit: inch
      {305, kAscii, kSoftwareLength, 30},  // Software
  }};
  std::array<std::uint8_t, kDirectorySize> directory{};
  PutU16(&directory[0], kEntryCount);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint8_t* p = &directory[2 + 12 * i];
    PutU16(p, entries[i].tag);
    PutU16(p + 2, entries[i].type);
    PutU32(p + 4, entries[i].count);
    PutU32(p + 8, entries[i].value);
  }
  // The next-directory offset (the last 4 bytes) stays 0: one image.
  sink.write(directory.data(), directory.size());

  std::array<std::uint8_t, 4> patch{};
  PutU32(patch.data(), directoryOffset);
  sink.seek(4);
  sink.write(patch.data(), patch.size());
}

struct StreamSink {
  std::ostream& stream;
  void write(const std::uint8_t* data, std::size_t size) {
    stream.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check();
  }
  void seek(long offset) {
    stream.seekp(offset);
    check();
  }
  void check() {
    if (!stream) throw FileError("TIFF ファイルに書き込めません。");
  }
};

struct FileSink {
  OutputFile& file;
  void write(const std::uint8_t* data, std::size_t size) { file.write(data, size); }
  void seek(long offset) { file.seek(offset); }
};

}  // namespace

void SaveBitmapAsTiff(const std::string& fileName, const Bitmap& bitmap, OutputCommit* commit) {
  // Refused before the file is created, so an existing file stays intact.
  if (!TiffSizeAllowed(bitmap)) {
    throw FileError("ファイル \"" + ExpandFileName(fileName) + "\" に書き込めません。" + kTooLarge);
  }
  OutputFile file(fileName, commit);
  FileSink sink{file};
  WriteTiff(sink, bitmap);
  file.close();
}

void WriteBitmapAsTiff(std::ostream& stream, const Bitmap& bitmap) {
  if (!TiffSizeAllowed(bitmap)) throw ArgumentError(kTooLarge);
  StreamSink sink{stream};
  WriteTiff(sink, bitmap);
}

}  // namespace skyfold
