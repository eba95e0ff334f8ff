// The inverse job's own stages at the default panorama width of 8192: the
// mapping table (as runs store it: one mirrored quadrant), the unfolding of
// six 2048 faces from BMP and from JPEG files (with the table built beside
// it, as in a run), and the warp with the JPEG writing, one after the other
// and as the pipeline runs use, each at 1 and 2 threads. Times are wall
// clock with the whole process's CPU time beside them, so the effect of the
// threads shows as the gap between the two.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "filers/PanoFiler.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "imaging/Parallel.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 8192;
constexpr int kQuarter = kWidth / 8;
constexpr int kFaceEdge = kWidth / 4;

// The benchmark's filer works on a run of the benchmark's thread count.
using BenchRun = test::ScopedRun;

// Each stage at 1 and 2 threads, wall time with the whole process's CPU.
void AtOneAndTwoThreads(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")
      ->Arg(1)
      ->Arg(2)
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
}

void BM_InverseTable(benchmark::State& state) {
  TPanoFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  TmxCurrencyUV table;
  table.SetSizeMirrored(2 * kQuarter, 4 * kQuarter);
  for (auto _ : state) {
    filer.BuildMappingTable(kQuarter, table);
    benchmark::DoNotOptimize(table.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{2 * kQuarter} * (4 * kQuarter));
}
BENCHMARK(BM_InverseTable)->Apply(AtOneAndTwoThreads);

// Six 2048 × 2048 faces in a temporary folder, removed afterwards. The
// picture is photo-like (smooth shading with fine grain and a distinct tint
// per face), so the JPEG files cost the decoder what real faces cost it.
class FaceSet {
 public:
  explicit FaceSet(const char* extension) {
    std::string pattern = (fs::temp_directory_path() / "skyfold-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    const char* suffixes[6] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};
    Bitmap face(kFaceEdge, kFaceEdge);
    for (int d = 0; d < 6; ++d) {
      for (int y = 0; y < kFaceEdge; ++y) {
        std::uint8_t* p = face.row(y);
        for (int x = 0; x < kFaceEdge; ++x, p += 3) {
          std::uint32_t grain =
              static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
          grain = (grain ^ (grain >> 13)) * 0x5bd1e995u;
          const int g = static_cast<int>((grain >> 24) & 15) - 8;
          const int shade = (x + y) * 160 / (2 * kFaceEdge) + ((x / 97 + y / 61) % 5) * 12;
          p[0] = static_cast<std::uint8_t>(std::clamp(shade + 20 * d + g, 0, 255));
          p[1] = static_cast<std::uint8_t>(std::clamp(shade + 40 + g, 0, 255));
          p[2] = static_cast<std::uint8_t>(std::clamp(200 - shade / 2 - 15 * d + g, 0, 255));
        }
      }
      const std::string name = Path(std::string("face") + suffixes[d] + extension);
      if (std::string(extension) == ".jpg") {
        SaveBitmapAsJpeg(name, face, 100);
      } else {
        SaveBitmapAsBmp(name, face);
      }
    }
  }
  ~FaceSet() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  FaceSet(const FaceSet&) = delete;
  FaceSet& operator=(const FaceSet&) = delete;
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

 private:
  fs::path folder_;
};

void LoadCubeFaces(benchmark::State& state, const char* extension) {
  const FaceSet faces(extension);
  TPanoFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  filer.SetImageFileName(faces.Path("pano.bmp"));
  filer.SetCubeImageFileName(faces.Path(std::string("face_front") + extension));
  filer.SetPanoImageSize(ps8192);
  filer.PrepareImageSize();
  filer.CheckParameters();
  filer.BuildFileNames();
  Bitmap bitmap;
  for (auto _ : state) {
    if (!filer.LoadCubeFaces(bitmap)) state.SkipWithError("faces not loaded");
    benchmark::DoNotOptimize(bitmap.data());
  }
}

void BM_LoadCubeFacesBmp(benchmark::State& state) { LoadCubeFaces(state, ".bmp"); }
void BM_LoadCubeFacesJpeg(benchmark::State& state) { LoadCubeFaces(state, ".jpg"); }
BENCHMARK(BM_LoadCubeFacesBmp)->Apply(AtOneAndTwoThreads);
BENCHMARK(BM_LoadCubeFacesJpeg)->Apply(AtOneAndTwoThreads);

// The unfolded faces warped and written as a quality-100 JPEG panorama:
// WarpImage then SaveImage, or WarpAndSaveImage, which encodes band by band
// while the warp goes on.
void WarpAndWrite(benchmark::State& state, bool pipelined) {
  const FaceSet faces(".bmp");
  TPanoFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  filer.SetImageFileName(faces.Path("pano.jpg"));
  filer.SetCubeImageFileName(faces.Path("face_front.bmp"));
  filer.SetPanoImageSize(ps8192);
  filer.SetExtractImageType(eiJpeg);
  filer.PrepareImageSize();
  filer.CheckParameters();
  filer.BuildFileNames();
  Bitmap unfolded;
  if (!filer.LoadCubeFaces(unfolded)) state.SkipWithError("faces not loaded");
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap bitmap = unfolded.clone();
    state.ResumeTiming();
    if (pipelined) {
      filer.WarpAndSaveImage(bitmap, faces.Path("pano.jpg"), "");
    } else {
      filer.WarpImage(bitmap);
      filer.SaveImage(bitmap, faces.Path("pano.jpg"), 0);
    }
  }
}

void BM_WarpThenSaveJpeg(benchmark::State& state) { WarpAndWrite(state, false); }
void BM_WarpAndSaveJpeg(benchmark::State& state) { WarpAndWrite(state, true); }
BENCHMARK(BM_WarpThenSaveJpeg)->Apply(AtOneAndTwoThreads);
BENCHMARK(BM_WarpAndSaveJpeg)->Apply(AtOneAndTwoThreads);

}  // namespace
}  // namespace skyfold
