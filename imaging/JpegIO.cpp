// JPEG writing through libjpeg-turbo's libjpeg API (decoding is in
// JpegDecoder.cpp). Library errors become exceptions through JpegGuard.h;
// every libjpeg object is owned by an RAII wrapper that destroys it on any
// exit path. Encoding reads the rows straight from the bitmap
// (JCS_EXT_BGR / JCS_EXT_BGRX) and writes through OutputFile.
#include "imaging/JpegIO.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/JpegGuard.h"
#include "imaging/OutputFile.h"
#include "imaging/PixelMemory.h"

namespace skyfold {
namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr int kRowsPerCall = 32;

template <typename Body>
void Guarded(jpeg::ErrorManager& err, Body body) {
  if (!jpeg::RunGuarded(err, body)) jpeg::ThrowLibraryError(err);
}

// --- encoding ---------------------------------------------------------------

// Destination manager handing the bytes to a sink (a file, say) or
// appending them to a memory buffer, in 64 KB chunks. A write failure cannot
// be thrown through libjpeg's C frames: it is kept here and rethrown after
// the guarded call returns.
struct OutputDestination {
  jpeg_destination_mgr pub;
  JpegStreamEncoder::Sink sink;       // where the bytes go, or
  std::vector<std::uint8_t>* memory;  // the buffer appended to
  std::array<JOCTET, kOutputChunk> buffer;
  std::exception_ptr failure;
};

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<OutputDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer.data();
  dest->pub.free_in_buffer = dest->buffer.size();
}

// Writes bytes; on failure keeps the exception and raises a libjpeg error so
// that control returns to the guard. The catch block has ended before the
// longjmp, so no live C++ object is skipped.
void WriteOrFail(j_compress_ptr cinfo, const JOCTET* data, std::size_t size) {
  auto* dest = reinterpret_cast<OutputDestination*>(cinfo->dest);
  bool failed = false;
  try {
    if (dest->sink) {
      dest->sink(data, size);
    } else {
      dest->memory->insert(dest->memory->end(), data, data + size);
    }
  } catch (const std::bad_alloc&) {
    dest->failure = std::make_exception_ptr(MemoryError(kOutOfMemoryMessage));
    failed = true;
  } catch (...) {
    dest->failure = std::current_exception();
    failed = true;
  }
  if (failed) {
    cinfo->err->msg_code = JERR_FILE_WRITE;
    cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
  }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<OutputDestination*>(cinfo->dest);
  WriteOrFail(cinfo, dest->buffer.data(), dest->buffer.size());
  dest->pub.next_output_byte = dest->buffer.data();
  dest->pub.free_in_buffer = dest->buffer.size();
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<OutputDestination*>(cinfo->dest);
  const std::size_t used = dest->buffer.size() - dest->pub.free_in_buffer;
  if (used > 0) WriteOrFail(cinfo, dest->buffer.data(), used);
}

class Compressor {
 public:
  Compressor() {
    jpeg::InstallErrorManager(err_);
    cinfo_.err = &err_.pub;
    Guarded(err_, [this] { jpeg_create_compress(&cinfo_); });
  }
  ~Compressor() { jpeg_destroy_compress(&cinfo_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  jpeg_compress_struct* get() { return &cinfo_; }
  jpeg::ErrorManager& errors() { return err_; }

 private:
  jpeg_compress_struct cinfo_{};
  jpeg::ErrorManager err_{};
};

}  // namespace

namespace {

// The one set of encoding parameters, whoever encodes: every output is the
// same baseline JFIF for the same pixels.
void StartCompress(jpeg_compress_struct* cinfo, int quality) {
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
}

// Room in `bytes` for an encoding of `pixelBytes` of raw pixels: quality
// 100 rarely needs more, and pages that are reserved but never written cost
// nothing, while growing would copy.
void ReserveForPixels(std::vector<std::uint8_t>& bytes, std::size_t pixelBytes) {
  try {
    bytes.reserve(pixelBytes + 1024);
  } catch (const std::bad_alloc&) {
    throw MemoryError(kOutOfMemoryMessage);
  }
  AdviseHugePages(bytes.data(), bytes.capacity());
}

// A destination manager appending to `memory`.
std::unique_ptr<OutputDestination> MemoryDestination(std::vector<std::uint8_t>* memory) {
  auto dest = std::make_unique<OutputDestination>();
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutputBuffer;
  dest->pub.term_destination = TermDestination;
  dest->memory = memory;
  return dest;
}

// Throws what made a guarded compressor call fail: a failed write as the
// error it was, anything else as the library's error.
[[noreturn]] void ThrowCompressFailure(const OutputDestination& dest,
                                       const jpeg::ErrorManager& err) {
  if (dest.failure) std::rethrow_exception(dest.failure);
  jpeg::ThrowLibraryError(err);
}

// Encodes bitmap into the file or the memory buffer (one of them null).
void Encode(const Bitmap& bitmap, int quality, OutputFile* file,
            std::vector<std::uint8_t>* memory) {
  Compressor comp;
  jpeg_compress_struct* cinfo = comp.get();

  auto dest = MemoryDestination(memory);
  if (file != nullptr) {
    dest->sink = [file](const std::uint8_t* data, std::size_t size) { file->write(data, size); };
  }
  cinfo->dest = &dest->pub;

  const PixelFormat format = bitmap.format();
  const bool indexed = IsIndexed(format);
  const bool bgrx = format == PixelFormat::Bgrx32;
  cinfo->image_width = static_cast<JDIMENSION>(bitmap.width());
  cinfo->image_height = static_cast<JDIMENSION>(bitmap.height());
  cinfo->input_components = bgrx ? 4 : 3;
  cinfo->in_color_space = bgrx ? JCS_EXT_BGRX : JCS_EXT_BGR;

  // Palette bitmaps are expanded one row at a time through a full table, so
  // a stray index past the palette reads black instead of out of bounds.
  // Direct formats are handed to libjpeg straight from the bitmap's rows
  // (libjpeg never writes through its input rows).
  std::array<PaletteEntry, 256> lut{};
  std::vector<JSAMPLE> expanded;
  std::vector<JSAMPROW> rows;
  if (indexed) {
    const auto& palette = bitmap.palette();
    std::copy_n(palette.begin(), std::min<std::size_t>(palette.size(), lut.size()), lut.begin());
    expanded.resize(static_cast<std::size_t>(bitmap.width()) * 3);
  } else {
    rows.resize(static_cast<std::size_t>(bitmap.height()));
    for (int y = 0; y < bitmap.height(); ++y) rows[y] = const_cast<JSAMPLE*>(bitmap.row(y));
  }
  const PaletteEntry* table = lut.data();
  JSAMPLE* expandedRow = expanded.data();
  JSAMPROW* rowArray = rows.data();
  const Bitmap* source = &bitmap;

  auto body = [cinfo, quality, indexed, table, expandedRow, rowArray, source] {
    StartCompress(cinfo, quality);
    const int width = source->width();
    while (cinfo->next_scanline < cinfo->image_height) {
      const JDIMENSION y = cinfo->next_scanline;
      if (indexed) {
        const std::uint8_t* in = source->row(static_cast<int>(y));
        JSAMPLE* out = expandedRow;
        for (int x = 0; x < width; ++x, out += 3) {
          const PaletteEntry& c = table[in[x]];
          out[0] = c.b;
          out[1] = c.g;
          out[2] = c.r;
        }
        JSAMPROW row = expandedRow;
        jpeg_write_scanlines(cinfo, &row, 1);
      } else {
        const JDIMENSION left = cinfo->image_height - y;
        const JDIMENSION count = left < kRowsPerCall ? left : JDIMENSION{kRowsPerCall};
        jpeg_write_scanlines(cinfo, rowArray + y, count);
      }
    }
    jpeg_finish_compress(cinfo);
  };
  if (!jpeg::RunGuarded(comp.errors(), body)) ThrowCompressFailure(*dest, comp.errors());
}

}  // namespace

void SaveBitmapAsJpeg(const std::string& fileName, const Bitmap& bitmap, int quality,
                      OutputCommit* commit) {
  OutputFile file(fileName, commit);
  Encode(bitmap, quality, &file, nullptr);
  file.close();
}

std::vector<std::uint8_t> EncodeJpeg(const Bitmap& bitmap, int quality) {
  std::vector<std::uint8_t> bytes;
  EncodeJpeg(bitmap, quality, bytes);
  return bytes;
}

void EncodeJpeg(const Bitmap& bitmap, int quality, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  ReserveForPixels(bytes, bitmap.byteSize());
  Encode(bitmap, quality, nullptr, &bytes);
}

struct JpegStreamEncoder::State {
  Compressor comp;
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<OutputDestination> dest = MemoryDestination(&bytes);
  std::vector<JSAMPROW> rows;
  bool failed = false;

  template <typename Body>
  void Run(Body body) {
    if (failed) throw CodecError("The JPEG encoder has already failed.");
    if (!jpeg::RunGuarded(comp.errors(), body)) {
      failed = true;
      ThrowCompressFailure(*dest, comp.errors());
    }
  }
};

JpegStreamEncoder::JpegStreamEncoder(int width, int height, int quality, Sink sink)
    : state_(std::make_unique<State>()) {
  if (!BitmapSizeAllowed(width, height, PixelFormat::Bgr24) || width == 0 || height == 0) {
    throw CodecError("Cannot encode an image of " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels.");
  }
  state_->dest->sink = std::move(sink);
  if (!state_->dest->sink) {
    ReserveForPixels(state_->bytes, static_cast<std::size_t>(width) * height * 3);
  }
  jpeg_compress_struct* cinfo = state_->comp.get();
  cinfo->dest = &state_->dest->pub;
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_EXT_BGR;
  state_->Run([cinfo, quality] { StartCompress(cinfo, quality); });
}

JpegStreamEncoder::~JpegStreamEncoder() = default;

void JpegStreamEncoder::WriteRows(const std::uint8_t* const* rows, int count) {
  WriteRowsAt(count, [rows](int i) { return rows[i]; });
}

void JpegStreamEncoder::WriteRows(const Bitmap& band, int count) {
  if (band.format() != PixelFormat::Bgr24 || count > band.height() ||
      static_cast<JDIMENSION>(band.width()) != state_->comp.get()->image_width) {
    throw ArgumentError("The rows do not match the JPEG image.");
  }
  WriteRowsAt(count, [&band](int i) { return band.row(i); });
}

template <typename RowOf>
void JpegStreamEncoder::WriteRowsAt(int count, const RowOf& rowOf) {
  jpeg_compress_struct* cinfo = state_->comp.get();
  if (count < 0 || static_cast<JDIMENSION>(count) > cinfo->image_height - cinfo->next_scanline) {
    throw ArgumentError("More JPEG rows than the image has.");
  }
  // libjpeg never writes through its input rows.
  std::vector<JSAMPROW>& pointers = state_->rows;
  pointers.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) pointers[i] = const_cast<JSAMPROW>(rowOf(i));
  JSAMPROW* rowArray = pointers.data();
  state_->Run([cinfo, rowArray, count] {
    JDIMENSION done = 0;
    while (done < static_cast<JDIMENSION>(count)) {
      done += jpeg_write_scanlines(cinfo, rowArray + done, static_cast<JDIMENSION>(count) - done);
    }
  });
}

std::vector<std::uint8_t> JpegStreamEncoder::Finish() {
  jpeg_compress_struct* cinfo = state_->comp.get();
  if (cinfo->next_scanline != cinfo->image_height) {
    throw ArgumentError("The JPEG image is missing rows.");
  }
  state_->Run([cinfo] { jpeg_finish_compress(cinfo); });
  return std::move(state_->bytes);
}

}  // namespace skyfold
