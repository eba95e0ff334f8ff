// JPEG through libjpeg-turbo's libjpeg API. Fatal library errors become
// CodecError "JPEG エラー #%d" (the library's message code); warnings are
// ignored and decoding goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/DecodeContext.h"

namespace skyfold {

class OutputCommit;

// Decodes straight into B, G, R order (24 bits). A one-component (grey) JPEG
// gives an 8-bit palette bitmap of at most 236 colours (libjpeg's two-pass
// quantizer with Floyd–Steinberg dithering).
// The pixels come from bitmap's pool.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap,
                const DecodeContext& context = {});
void ReadJpegFile(const std::string& fileName, Bitmap& bitmap, const DecodeContext& context = {});
// Decodes a colour JPEG straight into target, which must already be a 24-bit
// bitmap of the file's size (CodecError otherwise); context.rows learns of
// each batch of rows, so another thread can read them while the rest decode.
void ReadJpegFileInto(const std::string& fileName, Bitmap& target, const DecodeContext& context);

// The pixel size in a JPEG file's header, without decoding; false when the
// file cannot be read or is not a JPEG. Never throws.
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
// same rows. One thread at a time may use it. Throws CodecError on a
// library error, MemoryError when the buffer cannot grow.
class JpegStreamEncoder {
 public:
  JpegStreamEncoder(int width, int height, int quality = 100);
  ~JpegStreamEncoder();
  JpegStreamEncoder(const JpegStreamEncoder&) = delete;
  JpegStreamEncoder& operator=(const JpegStreamEncoder&) = delete;

  // Encodes the next `count` rows: rows[i] points at width B, G, R pixels.
  void WriteRows(const std::uint8_t* const* rows, int count);
  // After all rows: completes the file and hands its bytes over.
  std::vector<std::uint8_t> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace skyfold
