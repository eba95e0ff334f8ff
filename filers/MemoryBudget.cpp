#include "filers/MemoryBudget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "filers/SimFilers.h"
#include "imaging/PathUtils.h"
#include "imaging/SourceLimits.h"

namespace skyfold {

namespace {

using u64 = std::uint64_t;

u64 Rgb(u64 width, u64 height) { return width * height * 3; }

// What loading leaves before the warp: the decoder's peak, then a 24-bit
// copy of a grey, palette or 32-bit load, then the copy stretched to 2:1.
u64 LoadedBytes(const ImageHeader& image, u64* warpedWidth) {
  const u64 w = static_cast<u64>(std::max<std::int64_t>(image.width, 0));
  const u64 h = static_cast<u64>(std::max<std::int64_t>(image.height, 0));
  u64 bytes = image.peakBytes;
  if (image.loadedFormat != PixelFormat::Bgr24) bytes += Rgb(w, h);
  const u64 ww = w > 0 && h > 0 && w <= 0x7fffffff && h <= 0x7fffffff
                     ? static_cast<u64>(WarpedWidth(static_cast<int>(w), static_cast<int>(h)))
                     : w;
  if (ww != w || ww / 2 != h) bytes += Rgb(ww, ww / 2);
  if (warpedWidth) *warpedWidth = ww;
  return bytes;
}

// The mirrored mapping table of quarter unit q holds a quadrant of
// 2q × 4q entries; 16 bytes an entry covers every table form.
u64 TableBytes(u64 q) { return q * 2 * q * 16; }

}  // namespace

std::uint64_t DefaultMemoryBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  u64 limit = pages > 0 && pageSize > 0 ? static_cast<u64>(pages) * static_cast<u64>(pageSize)
                                        : u64{4} << 30;
  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    limit = std::min<u64>(limit, as.rlim_cur);
  }
  return limit / 4 * 3;
}

std::uint64_t ForwardJobBytes(const ImageHeader& source, int faceEdge, int threads, bool arranged) {
  u64 ww = 0;
  const u64 loaded = LoadedBytes(source, &ww);
  const u64 panorama = Rgb(ww, ww / 2);
  const u64 q = ww / 8;
  const u64 n = static_cast<u64>(std::max(faceEdge, 0));
  // A second panorama-sized raster: a source converted to 24 bits, or the
  // warp's own rows (a quarter strip, or the bands that wait behind the
  // decoder) at most. Cutting holds a quarter-unit face, a polar strip and
  // the faces being encoded (each with its compressed copy) on every thread.
  const u64 cutting = 2 * Rgb(2 * q, 2 * q) + Rgb(ww, q) +
                      static_cast<u64>(std::max(threads, 1) + 1) * 2 * Rgb(n, n);
  // Six faces kept, then turned copies or one image (a cross has twelve cells).
  const u64 kept = arranged ? 18 * Rgb(n, n) : 0;
  return loaded + panorama + TableBytes(q) + cutting + kept;
}

std::uint64_t InverseJobBytes(const std::vector<ImageHeader>& faces, int panoramaWidth,
                              int threads) {
  u64 face = 0;
  for (const ImageHeader& header : faces) {
    const u64 w = static_cast<u64>(std::max<std::int64_t>(header.width, 0));
    const u64 h = static_cast<u64>(std::max<std::int64_t>(header.height, 0));
    u64 bytes = header.peakBytes;
    if (header.loadedFormat != PixelFormat::Bgr24) bytes += Rgb(w, h);
    face = std::max(face, bytes);
  }
  const u64 w = static_cast<u64>(std::max(panoramaWidth, 0));
  // Faces decoded ahead on the workers plus the one being placed.
  const u64 held = static_cast<u64>(std::min(std::max(threads, 1), 6) + 1) * face;
  // The face raster, and the written panorama (a writer may hold it whole).
  return held + 2 * Rgb(w, w / 2) + TableBytes(w / 8);
}

std::string ByteText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (u64{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1 << 30));
  } else {
    std::snprintf(text, sizeof text, "%.0f MiB", std::ceil(static_cast<double>(bytes) / (1 << 20)));
  }
  return text;
}

std::string OverBudgetMessage(const std::string& fileName, const ImageHeader& header,
                              std::uint64_t needed, std::uint64_t budget) {
  return "画像が大きすぎます。\"" + ExpandFileName(fileName) + "\"（" +
         SizeText(header.width, header.height) + "）の変換には約 " + ByteText(needed) +
         " のメモリが要りますが、使えるのは " + ByteText(budget) + " までです。";
}

std::uint64_t ParseByteSize(const std::string& text) {
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    return 0;
  }
  std::string unit = text.substr(used);
  for (char& c : unit) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (unit.size() > 1 && unit.back() == 'B') {
    unit.pop_back();
    if (unit.size() > 1 && unit.back() == 'I') unit.pop_back();
  }
  static constexpr const char* kUnits[] = {"", "K", "M", "G", "T"};
  for (int i = 0; i < 5; ++i) {
    if (unit == kUnits[i] || (i == 0 && unit == "B")) {
      const double bytes = value * std::pow(1024.0, i);
      if (!(bytes >= 1) || bytes > 1e18) return 0;
      return static_cast<u64>(bytes);
    }
  }
  return 0;
}

}  // namespace skyfold
