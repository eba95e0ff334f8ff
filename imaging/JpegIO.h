// JPEG through libjpeg-turbo's libjpeg API. Fatal library errors become
// CodecError "JPEG エラー #%d" (the library's message code) with the
// library's own text as the detail; warnings are ignored and decoding goes
// on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/DecodeContext.h"
#include "imaging/ImageInfo.h"
#include "imaging/InputFile.h"

namespace skyfold {

class OutputCommit;

// Decodes straight into B, G, R order (24 bits). A one-component (grey) JPEG
// gives an 8-bit palette bitmap of at most 236 colours (libjpeg's two-pass
// quantizer with Floyd–Steinberg dithering).
//
// Refused before anything is allocated, besides the library's own errors:
// a size beyond the bitmap limits (MemoryError), a Huffman-coded file whose
// data cannot hold its declared size or its first row of blocks, and a CMYK
// or YCCK file (CodecError). A file whose data ends before its first row of
// blocks is complete has no image and is refused; one that ends later
// decodes (the rest grey), and report, when given, says it is incomplete.
// The pixels come from bitmap's pool; context gives the threads, the cancel
// token and the rows' gate.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap,
                LoadReport* report = nullptr, const DecodeContext& context = {});
void ReadJpeg(const InputFile& file, Bitmap& bitmap, LoadReport* report = nullptr,
              const DecodeContext& context = {});
// Opens the name as an InputFile (folders, FIFOs and devices are refused
// without a read).
void ReadJpegFile(const std::string& fileName, Bitmap& bitmap, LoadReport* report = nullptr,
                  const DecodeContext& context = {});
// Decodes a colour JPEG straight into target, which must already be a 24-bit
// bitmap of the file's size (CodecError otherwise); context.rows learns of
// each batch of rows, so another thread can read them while the rest decode.
void ReadJpegFileInto(const std::string& fileName, Bitmap& target, const DecodeContext& context,
                      LoadReport* report = nullptr);

// The header up to the first scan, with every check made before allocating.
ImageHeader ProbeJpeg(const InputFile& file);

// The pixel size in a JPEG file's header, without decoding; false when the
// file is not a regular file, cannot be read, is not a JPEG, or has a header
// the decoder refuses before allocating (ProbeJpeg). Never throws and never
// blocks.
// components, when given, receives the number of colour components.
bool ReadJpegSize(const std::string& fileName, int& width, int& height,
                  int* components = nullptr) noexcept;

// Encodes as a baseline JFIF at the given quality (the filers use 100):
// YCbCr 4:2:0, sequential, standard Huffman tables. Throws FileError when the
// file cannot be created or written, CodecError on a library error.
void SaveBitmapAsJpeg(const std::string& fileName, const Bitmap& bitmap, int quality = 100,
                      OutputCommit* commit = nullptr);

// The same encoding into memory: the bytes SaveBitmapAsJpeg would write.
// Touches no file, so it may run on any thread. Throws CodecError on a
// library error, MemoryError when the buffer cannot grow.
std::vector<std::uint8_t> EncodeJpeg(const Bitmap& bitmap, int quality = 100);
// The same into `bytes`, replacing what it held; its memory is reused, so a
// caller encoding one image after another touches fresh pages only once.
void EncodeJpeg(const Bitmap& bitmap, int quality, std::vector<std::uint8_t>& bytes);

// EncodeJpeg for a 24-bit image handed over a few rows at a time, so the
// rows can be encoded as soon as they are made and the whole image need
// never be held: Finish returns exactly the bytes EncodeJpeg would for the
// same rows — or, given a sink, hands them to it as they come (nor is the
// compressed image held) and returns nothing. One thread at a time may use
// it. Throws CodecError on a library error, MemoryError when the buffer
// cannot grow, what the sink throws.
class JpegStreamEncoder {
 public:
  using Sink = std::function<void(const std::uint8_t* data, std::size_t size)>;
  JpegStreamEncoder(int width, int height, int quality = 100, Sink sink = {});
  ~JpegStreamEncoder();
  JpegStreamEncoder(const JpegStreamEncoder&) = delete;
  JpegStreamEncoder& operator=(const JpegStreamEncoder&) = delete;

  // Encodes the next `count` rows: rows[i] points at width B, G, R pixels.
  void WriteRows(const std::uint8_t* const* rows, int count);
  // The same for the first `count` rows of a 24-bit bitmap as wide.
  void WriteRows(const Bitmap& band, int count);
  // After all rows: completes the file and hands its bytes over.
  std::vector<std::uint8_t> Finish();

 private:
  template <typename RowOf>
  void WriteRowsAt(int count, const RowOf& rowOf);

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace skyfold
