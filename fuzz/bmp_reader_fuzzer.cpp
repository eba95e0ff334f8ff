// Feeds arbitrary bytes to the BMP reader: its header probe and the decoder
// may refuse them with one of our exceptions, but must never read outside
// the buffer, hang or allocate beyond the bitmap limits, and the decoder
// must refuse whatever the probe refuses.
#include <cstddef>
#include <cstdint>

#include "imaging/Bitmap.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool probed = false;
  try {
    skyfold::ProbeBmp(skyfold::InputFile(data, size));
    probed = true;
  } catch (const skyfold::Error&) {
  }
  skyfold::Bitmap bitmap;
  try {
    skyfold::DecodeBmp(data, size, bitmap);
    if (!probed) __builtin_trap();  // the probe refused a file that decodes
  } catch (const skyfold::Error&) {
  }
  return 0;
}
