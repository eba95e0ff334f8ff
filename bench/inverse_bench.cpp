// The inverse job's own stages at the default panorama width of 8192: the
// mapping table (2048 × 4096 entries) and the unfolding of six 2048 faces.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "filers/PanoFiler.h"
#include "imaging/BmpIO.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 8192;
constexpr int kQuarter = kWidth / 8;
constexpr int kFaceEdge = kWidth / 4;

void BM_InverseTable(benchmark::State& state) {
  TPanoFiler filer;
  TmxCurrencyUV table;
  table.SetSize(2 * kQuarter, 4 * kQuarter);
  for (auto _ : state) {
    filer.BuildMappingTable(kQuarter, table);
    benchmark::DoNotOptimize(table.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{2 * kQuarter} * (4 * kQuarter));
}
BENCHMARK(BM_InverseTable)->Unit(benchmark::kMillisecond);

// Six 2048 × 2048 BMP faces in a temporary folder, removed afterwards.
class FaceSet {
 public:
  FaceSet() {
    std::string pattern = (fs::temp_directory_path() / "skyfold-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    const char* suffixes[6] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};
    Bitmap face(kFaceEdge, kFaceEdge);
    for (int y = 0; y < kFaceEdge; ++y) {
      std::uint8_t* p = face.row(y);
      for (int x = 0; x < kFaceEdge * 3; ++x) p[x] = static_cast<std::uint8_t>(x ^ y);
    }
    for (const char* s : suffixes) SaveBitmapAsBmp(Path(std::string("face") + s + ".bmp"), face);
  }
  ~FaceSet() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

 private:
  fs::path folder_;
};

void BM_LoadCubeFaces(benchmark::State& state) {
  const FaceSet faces;
  TPanoFiler filer;
  filer.SetImageFileName(faces.Path("pano.bmp"));
  filer.SetCubeImageFileName(faces.Path("face_front.bmp"));
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
BENCHMARK(BM_LoadCubeFaces)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace skyfold
