// JPEG reading and writing through libjpeg-turbo's libjpeg API.
//
// libjpeg reports fatal errors by calling error_exit, which must not return.
// Ours records the message code and longjmps back to RunGuarded, a frame that
// holds nothing but the jmp_buf's owner; the lambdas it runs hold only
// trivially destructible locals, so no C++ destructor is skipped. The C++
// side then throws. Every libjpeg object is owned by an RAII wrapper that
// destroys it on any exit path.
//
// Decoding writes scanlines straight into the bitmap's rows (JCS_EXT_BGR, or
// quantized indices for grey images); encoding reads them straight from the
// rows (JCS_EXT_BGR / JCS_EXT_BGRX) and writes through OutputFile.
#include "imaging/JpegIO.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <csetjmp>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/OutputFile.h"
#include "imaging/PagePrefault.h"

namespace skyfold {
namespace {

// A progressive file with thousands of tiny scans decodes for minutes; no
// real encoder writes more than a few dozen.
constexpr int kMaxProgressiveScans = 1000;
constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr int kRowsPerCall = 32;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code = 0;
  bool tooManyScans = false;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  err->code = cinfo->err->msg_code;
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end of file) are ignored: decoding goes
// on with what the library can recover.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void InstallErrorManager(JpegErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
}

std::string JpegErrorText(int code) {
  char text[64];
  std::snprintf(text, sizeof text, "JPEG エラー #%d", code);
  return text;
}

// Runs body under setjmp. Returns false when libjpeg's error_exit fired.
// body must keep only trivially destructible locals.
template <typename Body>
bool RunGuarded(JpegErrorManager& err, Body& body) {
  if (setjmp(err.jump) != 0) return false;
  body();
  return true;
}

template <typename Body>
void Guarded(JpegErrorManager& err, Body body) {
  if (!RunGuarded(err, body)) {
    if (err.tooManyScans) throw CodecError("Cannot load image. Too many progressive scans.");
    throw CodecError(JpegErrorText(err.code));
  }
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxProgressiveScans) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    err->tooManyScans = true;
    std::longjmp(err->jump, 1);
  }
}

class Decompressor {
 public:
  Decompressor() {
    InstallErrorManager(err_);
    cinfo_.err = &err_.pub;
    progress_.progress_monitor = ProgressMonitor;
    Guarded(err_, [this] { jpeg_create_decompress(&cinfo_); });
    cinfo_.progress = &progress_;
  }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo_); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  jpeg_decompress_struct* get() { return &cinfo_; }
  JpegErrorManager& errors() { return err_; }

 private:
  // Zeroed, so destroying after a failed create is a no-op.
  jpeg_decompress_struct cinfo_{};
  JpegErrorManager err_{};
  jpeg_progress_mgr progress_{};
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads the header, sets the decoding parameters, allocates the bitmap and
// reads every scanline into it. The source manager is already attached.
void DecodeAttached(Decompressor& dec, Bitmap& bitmap, const DecodeContext& context,
                    bool into = false) {
  jpeg_decompress_struct* cinfo = dec.get();
  JpegErrorManager& err = dec.errors();

  Guarded(err, [cinfo] { jpeg_read_header(cinfo, TRUE); });
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  cinfo->do_block_smoothing = TRUE;
  const bool grey = cinfo->out_color_space == JCS_GRAYSCALE;
  if (grey) {
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = 236;
    cinfo->two_pass_quantize = TRUE;
    cinfo->dither_mode = JDITHER_FS;
  } else {
    cinfo->out_color_space = JCS_EXT_BGR;
  }
  const PixelFormat format = grey ? PixelFormat::Indexed8 : PixelFormat::Bgr24;

  // The header's size is checked before libjpeg or we allocate anything
  // for the image.
  if (!BitmapSizeAllowed(cinfo->image_width, cinfo->image_height, format)) {
    throw MemoryError("Cannot load image. The image is too large.");
  }
  // Every row is written by the scanline loop below (a truncated file still
  // yields all rows), so the bitmap needs no white fill; its pages are mapped
  // on another core while the single-threaded decoder runs.
  Bitmap fresh;
  if (into) {
    if (grey || bitmap.format() != PixelFormat::Bgr24 ||
        static_cast<JDIMENSION>(bitmap.width()) != cinfo->image_width ||
        static_cast<JDIMENSION>(bitmap.height()) != cinfo->image_height) {
      throw CodecError("Cannot load image. Unexpected JPEG output layout.");
    }
  } else {
    fresh = Bitmap(static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height),
                   format, Uninitialised{}, bitmap.pool());
  }
  Bitmap& result = into ? bitmap : fresh;
  PagePrefault prefault(result.data(), result.byteSize(), context.workers);

  Guarded(err, [cinfo] { jpeg_start_decompress(cinfo); });
  const int expectedComponents = grey ? 1 : 3;
  if (cinfo->output_components != expectedComponents ||
      cinfo->output_width != static_cast<JDIMENSION>(result.width()) ||
      cinfo->output_height != static_cast<JDIMENSION>(result.height())) {
    throw CodecError("Cannot load image. Unexpected JPEG output layout.");
  }

  std::vector<JSAMPROW> rows(static_cast<std::size_t>(result.height()));
  for (int y = 0; y < result.height(); ++y) rows[y] = result.row(y);
  JSAMPROW* rowArray = rows.data();
  // A cancel is seen between batches of rows, outside libjpeg's frames.
  constexpr JDIMENSION kRowsPerCheck = 256;
  while (cinfo->output_scanline < cinfo->output_height) {
    CheckCancel(context.cancel);
    Guarded(err, [cinfo, rowArray] {
      const JDIMENSION stop = cinfo->output_height - cinfo->output_scanline > kRowsPerCheck
                                  ? cinfo->output_scanline + kRowsPerCheck
                                  : cinfo->output_height;
      while (cinfo->output_scanline < stop) {
        const JDIMENSION left = stop - cinfo->output_scanline;
        const JDIMENSION count = left < kRowsPerCall ? left : JDIMENSION{kRowsPerCall};
        jpeg_read_scanlines(cinfo, rowArray + cinfo->output_scanline, count);
      }
    });
    if (context.rows != nullptr) context.rows->Advance(static_cast<int>(cinfo->output_scanline));
  }

  if (grey) {
    std::vector<PaletteEntry> palette(static_cast<std::size_t>(cinfo->actual_number_of_colors));
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const std::uint8_t v = cinfo->colormap[0][i];
      palette[i] = {v, v, v};
    }
    result.setPalette(std::move(palette));
  }
  Guarded(err, [cinfo] { jpeg_finish_decompress(cinfo); });
  if (!into) bitmap.swap(fresh);
}

// --- encoding ---------------------------------------------------------------

// Destination manager writing through OutputFile (or appending to a memory
// buffer) in 64 KB chunks. A write failure cannot be thrown through libjpeg's C frames: it is kept
// here and rethrown after the guarded call returns.
struct OutputDestination {
  jpeg_destination_mgr pub;
  OutputFile* file;                   // the file written, or
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
    if (dest->file != nullptr) {
      dest->file->write(data, size);
    } else {
      dest->memory->insert(dest->memory->end(), data, data + size);
    }
  } catch (const std::bad_alloc&) {
    dest->failure = std::make_exception_ptr(MemoryError("Out of memory"));
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
    InstallErrorManager(err_);
    cinfo_.err = &err_.pub;
    Guarded(err_, [this] { jpeg_create_compress(&cinfo_); });
  }
  ~Compressor() { jpeg_destroy_compress(&cinfo_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  jpeg_compress_struct* get() { return &cinfo_; }
  JpegErrorManager& errors() { return err_; }

 private:
  jpeg_compress_struct cinfo_{};
  JpegErrorManager err_{};
};

}  // namespace

void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap,
                const DecodeContext& context) {
  Decompressor dec;
  jpeg_decompress_struct* cinfo = dec.get();
  Guarded(dec.errors(),
          [cinfo, data, size] { jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size)); });
  DecodeAttached(dec, bitmap, context);
}

void ReadJpegFile(const std::string& fileName, Bitmap& bitmap, const DecodeContext& context) {
  FilePtr file(std::fopen(fileName.c_str(), "rb"));
  if (!file) throw FileError("ファイル \"" + fileName + "\" を開けません。");
  Decompressor dec;
  jpeg_decompress_struct* cinfo = dec.get();
  std::FILE* f = file.get();
  Guarded(dec.errors(), [cinfo, f] { jpeg_stdio_src(cinfo, f); });
  DecodeAttached(dec, bitmap, context);
}

void ReadJpegFileInto(const std::string& fileName, Bitmap& target, const DecodeContext& context) {
  FilePtr file(std::fopen(fileName.c_str(), "rb"));
  if (!file) throw FileError("ファイル \"" + fileName + "\" を開けません。");
  Decompressor dec;
  jpeg_decompress_struct* cinfo = dec.get();
  std::FILE* f = file.get();
  Guarded(dec.errors(), [cinfo, f] { jpeg_stdio_src(cinfo, f); });
  DecodeAttached(dec, target, context, true);
}

bool ReadJpegSize(const std::string& fileName, int& width, int& height, int* components) noexcept {
  try {
    FilePtr file(std::fopen(fileName.c_str(), "rb"));
    if (!file) return false;
    Decompressor dec;
    jpeg_decompress_struct* cinfo = dec.get();
    std::FILE* f = file.get();
    Guarded(dec.errors(), [cinfo, f] {
      jpeg_stdio_src(cinfo, f);
      jpeg_read_header(cinfo, TRUE);
    });
    width = static_cast<int>(cinfo->image_width);
    height = static_cast<int>(cinfo->image_height);
    if (components != nullptr) *components = cinfo->num_components;
    return true;
  } catch (...) {
    return false;
  }
}

namespace {

// The one set of encoding parameters, whoever encodes: every output is the
// same baseline JFIF for the same pixels.
void StartCompress(jpeg_compress_struct* cinfo, int quality) {
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
}

// A destination manager appending to `memory`.
std::unique_ptr<OutputDestination> MemoryDestination(std::vector<std::uint8_t>* memory) {
  auto dest = std::make_unique<OutputDestination>();
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutputBuffer;
  dest->pub.term_destination = TermDestination;
  dest->file = nullptr;
  dest->memory = memory;
  return dest;
}

// Throws what made a guarded compressor call fail: a failed write as the
// error it was, anything else as the library's error.
[[noreturn]] void ThrowCompressFailure(const OutputDestination& dest, const JpegErrorManager& err) {
  if (dest.failure) std::rethrow_exception(dest.failure);
  throw CodecError(JpegErrorText(err.code));
}

// Encodes bitmap into the file or the memory buffer (one of them null).
void Encode(const Bitmap& bitmap, int quality, OutputFile* file,
            std::vector<std::uint8_t>* memory) {
  Compressor comp;
  jpeg_compress_struct* cinfo = comp.get();

  auto dest = MemoryDestination(memory);
  dest->file = file;
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
  if (!RunGuarded(comp.errors(), body)) ThrowCompressFailure(*dest, comp.errors());
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
  // Room for the raw pixels: quality 100 rarely needs more, and pages that
  // are reserved but never written cost nothing, while growing would copy.
  try {
    bytes.reserve(bitmap.byteSize() + 1024);
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory");
  }
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
    if (!RunGuarded(comp.errors(), body)) {
      failed = true;
      ThrowCompressFailure(*dest, comp.errors());
    }
  }
};

JpegStreamEncoder::JpegStreamEncoder(int width, int height, int quality)
    : state_(std::make_unique<State>()) {
  if (!BitmapSizeAllowed(width, height, PixelFormat::Bgr24) || width == 0 || height == 0) {
    throw CodecError("Cannot encode an image of " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels.");
  }
  // As EncodeJpeg: room for the raw pixels, which quality 100 rarely needs.
  try {
    state_->bytes.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 +
                          1024);
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory");
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
  jpeg_compress_struct* cinfo = state_->comp.get();
  if (count < 0 || static_cast<JDIMENSION>(count) > cinfo->image_height - cinfo->next_scanline) {
    throw ArgumentError("More JPEG rows than the image has.");
  }
  // libjpeg never writes through its input rows.
  std::vector<JSAMPROW>& pointers = state_->rows;
  pointers.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) pointers[i] = const_cast<JSAMPROW>(rows[i]);
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
