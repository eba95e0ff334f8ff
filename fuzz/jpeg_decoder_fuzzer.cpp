// Feeds arbitrary bytes to the JPEG decoder held in memory: its header probe
// first, then, when the probe lets it, the decode with its completeness
// report. Either may refuse with one of our exceptions; neither may read
// outside the buffer, hang, or allocate more than the probe announced.
#include <cstddef>
#include <cstdint>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"
#include "imaging/JpegIO.h"

namespace {
// What a run would refuse on its memory budget; the fuzzer's own limit.
constexpr std::uint64_t kMaxPeak = std::uint64_t{512} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const skyfold::InputFile file(data, size);
  try {
    if (skyfold::ProbeJpeg(file).peakBytes > kMaxPeak) return 0;
  } catch (const skyfold::Error&) {
    return 0;  // the decoder refuses the same header
  }
  try {
    skyfold::Bitmap bitmap;
    skyfold::LoadReport report;
    skyfold::ReadJpeg(file, bitmap, &report);
  } catch (const skyfold::Error&) {
  }
  return 0;
}
