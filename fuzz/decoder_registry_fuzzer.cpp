// Fuzzes everything behind a ".tif" name — the content test of each decoder
// and libtiff, libpng, libjpeg and our BMP reader behind them — by writing the
// input to a temporary .tif file and loading it through LoadImageFile, after
// the header probe a run makes first.
//
// Inputs whose probe announces more than kMaxPeak are skipped: a run refuses
// them on its memory budget, and here they would only trip libFuzzer's
// allocation limit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/ImageProbe.h"
#include "imaging/SimImgUtils.h"

namespace {
constexpr std::uint64_t kMaxPeak = std::uint64_t{512} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string fileName =
      "/tmp/skyfold_registry_fuzz_" + std::to_string(getpid()) + ".tif";
  std::FILE* f = std::fopen(fileName.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  try {
    if (skyfold::ProbeImageFile(fileName).peakBytes > kMaxPeak) return 0;
  } catch (const skyfold::Error&) {
    return 0;
  }
  try {
    skyfold::Bitmap bitmap;
    skyfold::LoadReport report;
    skyfold::LoadImageFile(bitmap, fileName, &report);
  } catch (const skyfold::Error&) {
  }
  return 0;
}
