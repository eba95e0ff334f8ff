// 16-bit and 32-bit float TIFF through libtiff (the classic fixed 8-bit
// layout stays Bmp2Tiff's): R, G, B (, unassociated alpha), contiguous,
// Deflate-compressed strips, written into memory through libtiff's client
// procedures.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/Errors.h"
#include "imaging/ImageMetadata.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"

namespace skyfold {

namespace {

struct MemoryTiff {
  EncodedFile bytes;
  toff_t position = 0;
};

tmsize_t ReadProc(thandle_t, void*, tmsize_t) { return 0; }

tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size) {
  auto* m = static_cast<MemoryTiff*>(handle);
  const std::size_t end = m->position + static_cast<std::size_t>(size);
  if (end > m->bytes.size()) m->bytes.resize(end);
  std::memcpy(m->bytes.data() + m->position, data, static_cast<std::size_t>(size));
  m->position = end;
  return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* m = static_cast<MemoryTiff*>(handle);
  switch (whence) {
    case SEEK_CUR:
      m->position += offset;
      break;
    case SEEK_END:
      m->position = m->bytes.size() + offset;
      break;
    default:
      m->position = offset;
  }
  return m->position;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryTiff*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

EncodedFile Encode(const Bitmap& bitmap, SampleType type) {
  const bool alpha = HasAlpha(bitmap.format());
  const PixelFormat want = DirectFormat(type, alpha);
  Bitmap converted;
  const Bitmap* image = &bitmap;
  if (bitmap.format() != want) {
    converted = ConvertFormat(bitmap, want);
    image = &converted;
  }
  MemoryTiff memory;
  TIFF* tif = TIFFClientOpen("memory", "w", &memory, ReadProc, WriteProc, SeekProc, CloseProc,
                             SizeProc, MapProc, UnmapProc);
  if (tif == nullptr) throw CodecError("TIFF ファイルを書き出せません。");
  const int channels = alpha ? 4 : 3;
  const bool isFloat = type == SampleType::F32;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image->width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image->height()));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, isFloat ? 32 : 16);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  if (alpha) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  bool ok = true;
  for (int y = 0; y < image->height() && ok; ++y) {
    ok = TIFFWriteScanline(tif, const_cast<std::uint8_t*>(image->row(y)),
                           static_cast<std::uint32_t>(y), 0) == 1;
  }
  ok = ok && TIFFWriteDirectory(tif) == 1;
  TIFFClose(tif);
  if (!ok) throw CodecError("TIFF ファイルを書き出せません。");
  return std::move(memory.bytes);
}

}  // namespace

void SaveTiff16(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata) {
  WriteWithMetadata(file, Encode(bitmap, SampleType::U16), metadata);
}
void SaveTiffFloat(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata) {
  WriteWithMetadata(file, Encode(bitmap, SampleType::F32), metadata);
}

}  // namespace skyfold
