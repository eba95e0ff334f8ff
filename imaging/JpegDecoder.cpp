// JPEG decoding through libjpeg-turbo's libjpeg API.
//
// The bytes come from an InputFile through our own source manager, which
// also tells how many bytes follow the first scan header. Before anything is
// allocated the header is judged: the size against the bitmap limits and
// against that data (a Huffman-coded 8 × 8 block costs at least a bit), and
// the data against the fewest bytes the first row of blocks can take.
//
// Warnings are not shown (the classic decoder ignores them), but the end of
// the data is noticed: before the first row is complete the file has no
// image and is refused at once; later, decoding goes on (libjpeg fills the
// rest grey) and the load reports the file as incomplete.
//
// Decoding writes scanlines straight into the bitmap's rows (JCS_EXT_BGR, or
// quantized indices for grey images). Every libjpeg object is owned by an
// RAII wrapper that destroys it on any exit path.
#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <vector>

#include "imaging/JpegGuard.h"
#include "imaging/JpegIO.h"
#include "imaging/PagePrefault.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

// A progressive file with thousands of tiny scans decodes for minutes; no
// real encoder writes more than a few dozen.
constexpr int kMaxProgressiveScans = 1000;
constexpr std::size_t kInputChunk = 64 * 1024;
constexpr int kRowsPerCall = 32;

constexpr const char* kNoImageMessage =
    "JPEG ファイルに画像のデータがありません（最初の行より前で切れています）。";

// Reads the file in chunks through readAt; a read error is kept and raised
// as a library error, so that it can be rethrown once the guard has
// returned.
struct InputSource {
  jpeg_source_mgr pub{};
  const InputFile* file = nullptr;
  std::uint64_t offset = 0;  // of the next byte to read
  std::exception_ptr failure;
  std::array<JOCTET, kInputChunk> buffer{};

  // Bytes of the file libjpeg has taken so far.
  std::uint64_t consumed() const {
    return offset - std::min<std::uint64_t>(offset, pub.bytes_in_buffer);
  }
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<InputSource*>(cinfo->src);
  std::size_t got = 0;
  bool failed = false;
  try {
    got = src->file->readAt(src->offset, src->buffer.data(), src->buffer.size());
  } catch (...) {
    src->failure = std::current_exception();
    failed = true;
  }
  if (failed) ERREXIT(cinfo, JERR_FILE_READ);
  src->offset += got;
  if (got == 0) {
    // As libjpeg's own sources do: warn, and end the data with an EOI.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    got = 2;
  }
  src->pub.next_input_byte = src->buffer.data();
  src->pub.bytes_in_buffer = got;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<InputSource*>(cinfo->src);
  if (count <= 0) return;
  const auto n = static_cast<std::size_t>(count);
  if (n <= src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += n;
    src->pub.bytes_in_buffer -= n;
    return;
  }
  src->offset += n - src->pub.bytes_in_buffer;
  src->pub.bytes_in_buffer = 0;
}

// Where the data ended, noticed through the warnings: when the Huffman
// decoder needed bits beyond an end marker (the one a source puts at the end
// of the file, or one in the file). The end of the file alone does not
// count, since the decoder reads a little ahead and a file may lack only
// its end marker; the arithmetic decoder, which reads no further than it
// needs and does not warn at a marker, is judged by the end of the file.
// Other damage is left to libjpeg as before.
void EmitMessage(j_common_ptr common, int level) {
  auto* err = reinterpret_cast<jpeg::ErrorManager*>(common->err);
  if (level >= 0 || !common->is_decompressor || !err->inImageData || err->dataEnded) return;
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  const int code = common->err->msg_code;
  if (code == JWRN_JPEG_EOF && err->warning[0] == '\0') {
    common->err->format_message(common, err->warning);
  }
  const bool ended = (code == JWRN_HIT_MARKER && cinfo->unread_marker == JPEG_EOI) ||
                     (code == JWRN_JPEG_EOF && cinfo->arith_code);
  if (!ended) return;
  err->dataEnded = true;
  if (err->warning[0] == '\0') common->err->format_message(common, err->warning);
  if (cinfo->input_scan_number <= 1 && cinfo->input_iMCU_row == 0) {
    err->noImage = true;
    std::longjmp(err->jump, 1);
  }
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxProgressiveScans) {
    auto* err = reinterpret_cast<jpeg::ErrorManager*>(cinfo->err);
    err->tooManyScans = true;
    std::longjmp(err->jump, 1);
  }
}

class Decompressor {
 public:
  explicit Decompressor(const InputFile& file) : source_(std::make_unique<InputSource>()) {
    jpeg::InstallErrorManager(err_);
    err_.pub.emit_message = EmitMessage;
    cinfo_.err = &err_.pub;
    progress_.progress_monitor = ProgressMonitor;
    run([this] { jpeg_create_decompress(&cinfo_); });
    cinfo_.progress = &progress_;
    source_->file = &file;
    source_->pub.init_source = InitSource;
    source_->pub.fill_input_buffer = FillInputBuffer;
    source_->pub.skip_input_data = SkipInputData;
    source_->pub.resync_to_restart = jpeg_resync_to_restart;
    source_->pub.term_source = TermSource;
    cinfo_.src = &source_->pub;
  }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo_); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  jpeg_decompress_struct* get() { return &cinfo_; }
  jpeg::ErrorManager& errors() { return err_; }
  const InputSource& source() const { return *source_; }

  // Runs a libjpeg call under the guard and throws what made it fail.
  template <typename Body>
  void run(Body body) {
    if (jpeg::RunGuarded(err_, body)) return;
    if (source_->failure) std::rethrow_exception(source_->failure);
    if (err_.tooManyScans) throw CodecError("Cannot load image. Too many progressive scans.");
    if (err_.noImage) throw CodecError(kNoImageMessage, err_.warning);
    jpeg::ThrowLibraryError(err_);
  }

 private:
  // Zeroed, so destroying after a failed create is a no-op.
  jpeg_decompress_struct cinfo_{};
  jpeg::ErrorManager err_{};
  jpeg_progress_mgr progress_{};
  std::unique_ptr<InputSource> source_;
};

// What the header says, once it has passed every check.
struct Header {
  bool grey = false;
  PixelFormat format = PixelFormat::Bgr24;
  std::uint64_t coefficientBytes = 0;  // libjpeg's whole-image buffer, when it keeps one
};

// The fewest entropy-coded bytes the first row of MCUs of the first scan
// can take: a block costs at least one bit in a Huffman-coded scan of DC
// coefficients or of whole blocks. 0 where there is no such bound
// (arithmetic coding, an AC scan of a progressive file).
std::uint64_t FirstRowBytes(const jpeg_decompress_struct* cinfo) {
  if (cinfo->arith_code || (cinfo->progressive_mode && cinfo->Ss != 0)) return 0;
  std::uint64_t blocks = 0;
  if (cinfo->comps_in_scan == 1) {
    blocks = cinfo->cur_comp_info[0]->width_in_blocks;
  } else {
    const std::uint64_t mcuWidth = std::uint64_t{8} * cinfo->max_h_samp_factor;
    const std::uint64_t mcus = (cinfo->image_width + mcuWidth - 1) / mcuWidth;
    std::uint64_t perMcu = 0;
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
      perMcu += std::uint64_t{1} * cinfo->cur_comp_info[i]->h_samp_factor *
                cinfo->cur_comp_info[i]->v_samp_factor;
    }
    blocks = mcus * perMcu;
  }
  return blocks / 8;
}

std::uint64_t CoefficientBytes(jpeg_decompress_struct* cinfo) {
  if (!jpeg_has_multiple_scans(cinfo)) return 0;
  std::uint64_t bytes = 0;
  for (int i = 0; i < cinfo->num_components; ++i) {
    const jpeg_component_info& c = cinfo->comp_info[i];
    const std::uint64_t w = (c.width_in_blocks + c.h_samp_factor - 1) / c.h_samp_factor;
    const std::uint64_t h = (c.height_in_blocks + c.v_samp_factor - 1) / c.v_samp_factor;
    bytes += w * c.h_samp_factor * h * c.v_samp_factor * sizeof(JBLOCK);
  }
  return bytes;
}

const char* ColourSpaceName(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_CMYK:
      return "CMYK";
    case JCS_YCCK:
      return "YCCK";
    default:
      return nullptr;
  }
}

// Reads the header up to the first scan and makes every check that needs
// no pixel. Throws CodecError or MemoryError.
Header ReadCheckedHeader(Decompressor& dec, const InputFile& file) {
  jpeg_decompress_struct* cinfo = dec.get();
  dec.run([cinfo] { jpeg_read_header(cinfo, TRUE); });

  Header h;
  h.grey = cinfo->out_color_space == JCS_GRAYSCALE;
  h.format = h.grey ? PixelFormat::Indexed8 : PixelFormat::Bgr24;
  const std::int64_t width = cinfo->image_width, height = cinfo->image_height;
  CheckImageSize(width, height, h.format);

  // Only grey, YCbCr and RGB files convert to B, G, R: say so before the
  // bitmap is allocated, with the library's own words.
  const J_COLOR_SPACE space = cinfo->jpeg_color_space;
  if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB) {
    const char* name = ColourSpaceName(space);
    std::string why = cinfo->err->jpeg_message_table[JERR_CONVERSION_NOTIMPL];
    why += name ? std::string("（") + name + " の JPEG は読み込めません）"
                : "（" + std::to_string(cinfo->num_components) + " 成分の JPEG は読み込めません）";
    throw CodecError(jpeg::ErrorText(JERR_CONVERSION_NOTIMPL), why);
  }

  const std::uint64_t consumed = dec.source().consumed();
  const std::uint64_t data = file.size() > consumed ? file.size() - consumed : 0;
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (!cinfo->arith_code) {
    if (std::string why = DataBoundReason(pixels, data, expansion::kJpegPixels, width, height);
        !why.empty()) {
      throw CodecError(kTooLittleDataMessage, why);
    }
  }
  if (data == 0 || data < FirstRowBytes(cinfo)) {
    throw CodecError(kNoImageMessage, "最初のスキャンのデータは " + std::to_string(data) +
                                          " バイトで、1 行目のブロックに足りません");
  }
  h.coefficientBytes = CoefficientBytes(cinfo);
  return h;
}

// Decodes the file whose header ReadCheckedHeader has read.
// into: decode straight into bitmap, which must be a 24-bit bitmap of the
// file's size.
void DecodeChecked(Decompressor& dec, const Header& h, Bitmap& bitmap, LoadReport* report,
                   const DecodeContext& context, bool into = false) {
  jpeg_decompress_struct* cinfo = dec.get();
  cinfo->scale_num = 1;
  cinfo->scale_denom = into ? 1 : static_cast<unsigned>(std::clamp(context.scaleDenom, 1, 8));
  cinfo->do_block_smoothing = TRUE;
  if (h.grey) {
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = 236;
    cinfo->two_pass_quantize = TRUE;
    cinfo->dither_mode = JDITHER_FS;
  } else {
    cinfo->out_color_space = JCS_EXT_BGR;
  }

  // Every row is written by the scanline loop below (a truncated file still
  // yields all rows), so the bitmap needs no white fill; its pages are mapped
  // on another core while the single-threaded decoder runs.
  Bitmap fresh;
  if (into) {
    if (h.grey || bitmap.format() != PixelFormat::Bgr24 ||
        static_cast<JDIMENSION>(bitmap.width()) != cinfo->image_width ||
        static_cast<JDIMENSION>(bitmap.height()) != cinfo->image_height) {
      throw CodecError("Cannot load image. Unexpected JPEG output layout.");
    }
  } else {
    dec.run([cinfo] { jpeg_calc_output_dimensions(cinfo); });
    fresh = Bitmap(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                   h.format, Uninitialised{}, bitmap.pool());
  }
  Bitmap& result = into ? bitmap : fresh;
  PagePrefault prefault(result.data(), result.byteSize(), context.workers);

  dec.errors().inImageData = true;
  dec.run([cinfo] { jpeg_start_decompress(cinfo); });
  const int expectedComponents = h.grey ? 1 : 3;
  if (cinfo->output_components != expectedComponents ||
      cinfo->output_width != static_cast<JDIMENSION>(result.width()) ||
      cinfo->output_height != static_cast<JDIMENSION>(result.height())) {
    throw CodecError("Cannot load image. Unexpected JPEG output layout.");
  }

  std::vector<JSAMPROW> rows(static_cast<std::size_t>(result.height()));
  for (int y = 0; y < result.height(); ++y) rows[y] = result.row(y);
  JSAMPROW* rowArray = rows.data();
  // A cancel is seen between batches of rows, outside libjpeg's frames; a
  // reader following the decoder learns of each batch.
  constexpr JDIMENSION kRowsPerCheck = 256;
  while (cinfo->output_scanline < cinfo->output_height) {
    CheckCancel(context.cancel);
    dec.run([cinfo, rowArray] {
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

  if (h.grey) {
    std::vector<PaletteEntry> palette(static_cast<std::size_t>(cinfo->actual_number_of_colors));
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const std::uint8_t v = cinfo->colormap[0][i];
      palette[i] = {v, v, v};
    }
    result.setPalette(std::move(palette));
  }
  dec.run([cinfo] { jpeg_finish_decompress(cinfo); });
  if (report) {
    report->incomplete = dec.errors().dataEnded;
    report->detail = report->incomplete ? dec.errors().warning : "";
  }
  if (!into) bitmap.swap(fresh);
}

}  // namespace

void ReadJpeg(const InputFile& file, Bitmap& bitmap, LoadReport* report,
              const DecodeContext& context) {
  Decompressor dec(file);
  const Header h = ReadCheckedHeader(dec, file);
  DecodeChecked(dec, h, bitmap, report, context);
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, LoadReport* report,
                const DecodeContext& context) {
  const InputFile memory(data, size);
  ReadJpeg(memory, bitmap, report, context);
}

void ReadJpegFile(const std::string& fileName, Bitmap& bitmap, LoadReport* report,
                  const DecodeContext& context) {
  const InputFile file(fileName);
  ReadJpeg(file, bitmap, report, context);
}

void ReadJpegFileInto(const std::string& fileName, Bitmap& target, const DecodeContext& context,
                      LoadReport* report) {
  const InputFile file(fileName);
  Decompressor dec(file);
  const Header h = ReadCheckedHeader(dec, file);
  DecodeChecked(dec, h, target, report, context, true);
}

ImageHeader ProbeJpeg(const InputFile& file) {
  Decompressor dec(file);
  const Header h = ReadCheckedHeader(dec, file);
  const jpeg_decompress_struct* cinfo = dec.get();
  ImageHeader info;
  info.format = "JPEG";
  info.width = cinfo->image_width;
  info.height = cinfo->image_height;
  info.channels = cinfo->num_components;
  info.bitsPerSample = cinfo->data_precision;
  info.bitsPerPixel = cinfo->num_components * cinfo->data_precision;
  info.loadedFormat = h.format;
  info.bitmapBytes = static_cast<std::uint64_t>(info.width) *
                     static_cast<std::uint64_t>(info.height) *
                     static_cast<std::uint64_t>(BytesPerPixel(h.format));
  // Besides the bitmap and the coefficients: a few rows of samples per
  // component for upsampling and colour conversion.
  const std::uint64_t rowBuffers =
      static_cast<std::uint64_t>(info.width) * 64 * static_cast<std::uint64_t>(info.channels);
  info.peakBytes = info.bitmapBytes + h.coefficientBytes + rowBuffers;
  info.fileBytes = file.size();
  return info;
}

bool ReadJpegSize(const std::string& fileName, int& width, int& height, int* components) noexcept {
  try {
    if (!IsRegularFile(fileName)) return false;
    const InputFile file(fileName);
    // The probe's checks, so that nobody prepares for a size the decoder
    // will refuse.
    const ImageHeader h = ProbeJpeg(file);
    width = static_cast<int>(h.width);
    height = static_cast<int>(h.height);
    if (components != nullptr) *components = static_cast<int>(h.channels);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace skyfold
