// to-cube: each panorama through the window's forward sequence on a
// TCubeFiler: names, the overwrite rule, validation, a 24-bit working
// bitmap, face edge, loading, the warp and the six faces. Jobs run one after
// another; a refused or failed job does not stop the next.
#include <cstdint>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cli/Jobs.h"
#include "cli/Progress.h"
#include "filers/CubeFiler.h"
#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"
#include "imaging/Parallel.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

namespace {

// Lists every face on `out` as soon as it is on disk, so a job that fails
// half-way still names the files it left behind.
//
// JPEG faces are encoded on worker threads while the next faces are cut, as
// many at once as there are threads for the pixel loops. Everything else stays on
// this thread and in order: the progress lines (emitted while cutting), the
// file writes (face k is written only after face k − 1 is on disk, and not
// at all once an earlier face failed) and the listing. The worker gets a
// snapshot of what it needs (the face, whether to turn it) and calls no
// getter of the filer.
class ListingCubeFiler : public TCubeFiler {
 public:
  explicit ListingCubeFiler(std::ostream& out) : out_(out) {}

  void SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t faceIndex) override {
    if (GetExtractImageType() != eiJpeg || ThreadCount() < 2) {
      CompletePending();
      TCubeFiler::SaveImage(bitmap, fileName, faceIndex);
      List(fileName);
      return;
    }
    const bool turn = GetTopRotate() && faceIndex == fiTop;
    // The face is taken over; the cutter's next face takes the memory of an
    // encoded one again (large blocks are kept when freed).
    auto face = std::make_shared<Bitmap>();
    face->swap(bitmap);
    // The bytes go into a buffer an earlier face was written from.
    std::vector<std::uint8_t> buffer;
    if (!spareBytes_.empty()) {
      buffer = std::move(spareBytes_.back());
      spareBytes_.pop_back();
    }
    auto bytes = std::async(std::launch::async, [face, turn, buffer = std::move(buffer)]() mutable {
      if (turn) RotateBitmap180(*face);
      EncodeJpeg(*face, 100, buffer);
      return std::move(buffer);
    });
    pending_.push_back(Pending{fileName, std::move(face), std::move(bytes)});
    // Earlier faces go to disk first, oldest first; if one fails, the later
    // ones are never written (their encodings are waited for and dropped).
    while (pending_.size() > static_cast<std::size_t>(ThreadCount())) CompleteOldest();
  }

  // Writes and lists the face still being encoded, if any. Throws what its
  // encoding or writing threw.
  void CompletePending() {
    while (!pending_.empty()) CompleteOldest();
  }

 private:
  // Writes the oldest face. When that fails, the faces after it are never
  // written: their encodings are waited for and dropped.
  void CompleteOldest() {
    Pending job = std::move(pending_.front());
    pending_.pop_front();
    try {
      std::vector<std::uint8_t> data = job.bytes.get();
      OutputFile file(job.fileName);
      file.write(data.data(), data.size());
      file.close();
      spareBytes_.push_back(std::move(data));
    } catch (...) {
      pending_.clear();
      throw;
    }
    List(job.fileName);
  }

  struct Pending {
    std::string fileName;
    std::shared_ptr<Bitmap> face;
    std::future<std::vector<std::uint8_t>> bytes;
  };

  void List(const std::string& fileName) { out_ << fileName << '\n' << std::flush; }

  std::ostream& out_;
  std::deque<Pending> pending_;
  std::vector<std::vector<std::uint8_t>> spareBytes_;
};

// After a failure while cutting, the faces still being encoded would have
// been on disk already in a run without the workers: write them, and report
// the first one's failure instead if one fails (it came first).
std::string SettleAfterFailure(ListingCubeFiler& filer, const std::string& message) {
  try {
    filer.CompletePending();
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& e) {
    return e.what();
  }
  return message;
}

// The TImageSize ordinal of a face edge, or −1 when the edge is not offered.
int ImageSizeOrdinal(int edge) {
  for (int ordinal = is64; ordinal <= is4096; ++ordinal) {
    if ((64 << ordinal) == edge) return ordinal;
  }
  return -1;
}

// The folder asked for, else the panorama's own ("." for a bare name).
std::string OutputFolder(const ToCubeOptions& options, const std::string& panorama) {
  if (!options.outputDir.empty()) return options.outputDir;
  const std::string folder = ExtractFilePath(panorama);
  return folder.empty() ? std::string(1, '.') : folder;
}

int RunOne(const ToCubeOptions& options, const std::string& panorama, ProgressPrinter& printer,
           std::ostream& out) {
  ListingCubeFiler filer(out);
  filer.OnProgress = printer.Event();
  filer.SetImageFileName(panorama);

  // The base filer's output folder is the folder part of SceneFilename.
  filer.SetSceneFilename(IncludeTrailingPathDelimiter(OutputFolder(options, panorama)));
  filer.SetTextureBasename(options.baseName.empty() ? ChangeFileExt(ExtractFileName(panorama), "")
                                                    : options.baseName);
  filer.SetCubeSuffix(options.digitSuffix ? csZero : csLeft);
  filer.SetExtractImageType(options.type);
  filer.SetImageSize(static_cast<TImageSize>(ImageSizeOrdinal(options.size)));
  filer.SetTopRotate(options.rotateTop);
  filer.SetChangeLeftRight(options.swapLeftRight);

  try {
    filer.BuildFileNames();
    if (!options.force) {
      for (const std::string& name : filer.FileNames) {
        const std::string path = filer.OutputPath(name);
        if (FileExists(path)) {
          ShowErrorMessage(path + ": the file already exists (use --force to replace it)");
          return kExitRefused;
        }
      }
    }
    if (!filer.CheckParameters()) return kExitRefused;

    Bitmap bitmap(0, 0, PixelFormat::Bgr24);
    filer.PrepareImageSize();
    if (!filer.LoadSourceImage(bitmap)) {
      printer.Finish();
      return kExitRefused;
    }
    filer.DoProgress("正距円筒画像を立方体表面の画像へ変形します。", spAppend);
    filer.WarpImage(bitmap);
    filer.SaveCubeFaces(bitmap);
    filer.CompletePending();
    printer.Finish();
    return kExitOk;
  } catch (const std::bad_alloc&) {
    printer.Message(SettleAfterFailure(filer, "Out of memory"));
  } catch (const std::exception& e) {
    printer.Message(SettleAfterFailure(filer, e.what()));
  }
  return kExitFailed;
}

}  // namespace

int RunToCube(const ToCubeOptions& options, std::ostream& out, std::ostream& err) {
  if (ImageSizeOrdinal(options.size) < 0) {
    err << "--size: " << options.size << " not in {64,128,256,512,1024,2048,4096}\n";
    return kExitUsage;
  }
  if (options.type > eiTiff) {
    err << "--type: not one of bmp, jpg or tif\n";
    return kExitUsage;
  }
  if (!options.baseName.empty() && options.panoramas.size() > 1) {
    err << "--base-name: only allowed with a single PANORAMA\n";
    return kExitUsage;
  }

  ProgressPrinter printer(err, options.quiet);
  // Validation messages share the stream with the progress lines.
  const ScopedErrorMessageSink sink([&](const std::string& text) { printer.Message(text); });

  int status = kExitOk;
  for (const std::string& panorama : options.panoramas) {
    const int job = RunOne(options, panorama, printer, out);
    if (job == kExitFailed || (job == kExitRefused && status == kExitOk)) status = job;
  }
  return status;
}

}  // namespace skyfold::cli
