// Feeds arbitrary bytes to the Radiance decoder (our own parser), held in memory:
// its content test, its header probe, then, when the probe lets it, the
// load. Each may refuse with one of our exceptions; none may read outside
// the buffer, hang, or allocate more than the probe announced.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "codecs/DecoderRegistry.h"
#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"

namespace {
// What a run would refuse on its memory budget; the fuzzer's own limit.
constexpr std::uint64_t kMaxPeak = std::uint64_t{512} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto decoder = skyfold::MakeHdrDecoder();
  std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
  decoder->canRead(stream);
  const skyfold::InputFile file(data, size);
  try {
    if (decoder->probe(file).peakBytes > kMaxPeak) return 0;
  } catch (const skyfold::Error&) {
    return 0;  // the decoder refuses the same header
  }
  try {
    skyfold::Bitmap bitmap;
    decoder->load(file, bitmap, nullptr);
  } catch (const skyfold::Error&) {
  }
  return 0;
}
