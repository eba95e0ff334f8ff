// Feeds arbitrary bytes to the BMP reader: it may refuse them with one of
// our exceptions, but must never read outside the buffer, hang or allocate
// beyond the bitmap limits.
#include <cstddef>
#include <cstdint>

#include "imaging/Bitmap.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  skyfold::Bitmap bitmap;
  try {
    skyfold::DecodeBmp(data, size, bitmap);
  } catch (const skyfold::Error&) {
  }
  return 0;
}
