#include "filers/ResampledJobs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "filers/DeepCube.h"
#include "filers/FaceSaves.h"
#include "filers/SphereResampler.h"
#include "imaging/Errors.h"
#include "imaging/ImageMetadata.h"
#include "imaging/JpegResultFile.h"
#include "imaging/OutputFormats.h"
#include "imaging/Parallel.h"
#include "imaging/PathUtils.h"
#include "imaging/PixelConvert.h"
#include "imaging/PixelMemory.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kFaceCount = 6;
// Progress dots of a panorama: about as many as the classic warp prints
// for one strip.
constexpr int kPanoramaDots = 40;
// Face rows encoded at a time when a face is written as it is made.
constexpr int kStreamedFaceRows = 256;
// How far the decoder may run ahead of the rows the faces have passed before
// it helps with them: about 6 % of a 32768-wide panorama, more than the
// whole of one 8192 wide.
constexpr std::size_t kDecoderLeadBytes = std::size_t{96} << 20;

Orientation ViewOf(const ResampleOptions& options) {
  return Orientation::FromYawPitchRoll(options.yaw, options.pitch, options.roll);
}

// The samples of a bitmap of 24 bits or of a working format (DeepCube.h).
template <typename T>
RasterView<T> SamplesOf(Bitmap& bitmap) {
  return {reinterpret_cast<T*>(bitmap.data()), bitmap.width(), bitmap.height(),
          ChannelCount(bitmap.format()),
          static_cast<std::ptrdiff_t>(bitmap.rowBytes() / sizeof(T))};
}

// Rows [y0, y0 + rows) of a view.
template <typename T>
RasterView<T> Rows(RasterView<T> view, int y0, int rows) {
  view.data = view.row(y0);
  view.height = rows;
  return view;
}

// Calls f with a sample of the working format's type.
template <typename F>
void WithSampleType(PixelFormat format, const F& f) {
  if (SampleTypeOf(format) == SampleType::F32) {
    f(float{});
  } else if (SampleTypeOf(format) == SampleType::U16) {
    f(std::uint16_t{});
  } else {
    f(std::uint8_t{});
  }
}

// Alpha is interpolated premultiplied: colour is multiplied by alpha before
// resampling and divided by it after (undo).
template <typename T>
void Premultiply(Bitmap& bitmap, bool undo, const Workers& workers) {
  if (!HasAlpha(bitmap.format())) return;
  const RasterView<T> v = SamplesOf<T>(bitmap);
  constexpr bool kFloat = std::is_floating_point_v<T>;
  constexpr float kOne = kFloat ? 1.0f : static_cast<float>(std::numeric_limits<T>::max());
  workers.For(0, v.height, [&](int first, int last) {
    for (int y = first; y < last; ++y) {
      T* p = v.row(y);
      for (int x = 0; x < v.width; ++x, p += 4) {
        const float a = static_cast<float>(p[3]) / kOne;
        for (int c = 0; c < 3; ++c) {
          const float value = static_cast<float>(p[c]);
          const float out = undo ? (a > 0 ? value / a : 0.0f) : value * a;
          if constexpr (kFloat) {
            p[c] = out;
          } else {
            p[c] = static_cast<T>(std::min(out, kOne) + 0.5f);
          }
        }
      }
    }
  });
}

// The panorama a to-pano job makes from faces whose front is faceWidth wide,
// and its bands: its size is checked and given to the result's metadata,
// and its warping stage begins (a dot a band).
struct PanoramaBands {
  int width = 0, height = 0, rows = 0;
};

PanoramaBands BeginPanorama(TPanoFiler& filer, int faceWidth) {
  PanoramaBands bands;
  bands.width = ResampledPanoramaWidth(filer.Options.resample, faceWidth, filer.OutputSize);
  if (bands.width < 2 || bands.width % 2 != 0) throw ArgumentError("Invalid panorama size.");
  bands.height = bands.width / 2;
  filer.SetResultPanoramaSize(bands.width, bands.height);
  bands.rows = std::max(1, (bands.height + kPanoramaDots - 1) / kPanoramaDots);
  filer.Context().BeginStage(RunStage::Warping, 2 + (bands.height + bands.rows - 1) / bands.rows);
  filer.DoProgress("立方体表面の画像を正距円筒画像へ変形します。", spAppend);
  filer.DoProgress("処理中 ", spAppend);
  return bands;
}

// The faces of `panorama` (24 bits or a working format), each brought to
// `result` and saved.
template <typename T>
void ResampleFaces(TCubeFiler& filer, Bitmap& panorama, PixelFormat result,
                   RowGate* decoded = nullptr) {
  RunContext& run = filer.Context();
  const ResampleOptions& options = filer.Options.resample;
  const int edge = ResampledFaceEdge(options, panorama.width(), filer.OutputSize);
  if (edge < 1) throw ArgumentError("Invalid face size.");
  const Orientation view = ViewOf(options);
  Premultiply<T>(panorama, false, run.workers());
  const RasterView<const T> source = SamplesOf<T>(panorama);

  run.BeginStage(RunStage::Warping, 1);
  filer.DoProgress("正距円筒画像を立方体表面の画像へ変形します。", spAppend);
  run.BeginStage(RunStage::Writing, 1 + 2 * static_cast<std::int64_t>(filer.FileNames.size()));
  filer.DoProgress("画像ファイルを書き出しています。", spAppend);
  FaceSaves saves(run);
  // Each face name's line, then its face; names beyond the six (sphere
  // names) only print their line.
  std::size_t next = 0;
  const auto linesUpTo = [&](std::size_t face) {
    for (; next < filer.FileNames.size() && next <= face; ++next) {
      run.cancel().Check();
      filer.DoProgress(filer.FileNames[next], spAppend);
    }
  };
  std::vector<int> indices;
  for (std::size_t i = 0; i < filer.FileNames.size() && i < kFaceCount; ++i) {
    indices.push_back(static_cast<int>(i));
  }
  const auto pathOf = [&](int i) {
    return filer.OutputPath(filer.FileNames[static_cast<std::size_t>(i)]);
  };
  // A face handed to a background save takes its pixels along: each face
  // is a new raster (from the run's pool). A face made out of turn (while
  // the panorama decodes) is saved at once; its line still comes in turn.
  std::array<Bitmap, kFaceCount> faces;
  std::array<bool, kFaceCount> saved{};
  const auto save = [&](int i, bool here) {
    Bitmap& face = faces[static_cast<std::size_t>(i)];
    Premultiply<T>(face, true, run.workers());
    if (face.format() != result) {
      Bitmap converted = ConvertFormat(face, result, run.workers());
      face.swap(converted);
    }
    saved[static_cast<std::size_t>(i)] = true;
    // Here: encoded on this thread (the decoder holds the worker); its pages
    // then go to the rows the decoder writes next.
    std::optional<FaceSaves::Scope> background;
    if (!here) background.emplace(saves, filer);
    filer.SaveImage(face, pathOf(i), static_cast<std::uint8_t>(i));
    if (here) {
      DiscardPixels(face.data(), face.byteSize());
      face = Bitmap();
    }
  };
  // A JPEG face SaveImage would write as it is goes to the encoder a band
  // at a time, on a worker while the next band is made: it is never held
  // whole (200 MB of fresh pages at 8192). One band is encoded at a time.
  const bool streams = std::is_same_v<T, std::uint8_t> && panorama.format() == result &&
                       !HasAlpha(result) && std::any_of(indices.begin(), indices.end(), [&](int i) {
                         return filer.WritesJpegAsMade(static_cast<std::uint8_t>(i));
                       });
  // While the decoder goes on, the rows every face has read give their pages
  // to the rows it writes next: fresh pages cost more than the rest.
  const bool releases = decoded != nullptr && streams;
  std::array<std::unique_ptr<JpegResultFile>, kFaceCount> files;
  std::array<Bitmap, 2> buffers;
  Task<void> encoding;  // after what it uses: a started one is waited for first
  int bandCount = 0;
  FaceBands<T> outputs;
  outputs.bandRows = streams ? kStreamedFaceRows : 0;
  outputs.band = [&](int i, int firstRow, int rows) {
    if (rows == edge || !filer.WritesJpegAsMade(static_cast<std::uint8_t>(i))) {
      Bitmap& face = faces[static_cast<std::size_t>(i)];
      if (face.empty()) {
        face = Bitmap(edge, edge, panorama.format(), Uninitialised{}, &run.memory());
      }
      return Rows(SamplesOf<T>(face), firstRow, rows);
    }
    if (firstRow == 0) {
      files[static_cast<std::size_t>(i)] = std::make_unique<JpegResultFile>(
          pathOf(i), edge, edge, filer.MetadataFor(eiJpeg), run.outputs);
    }
    // The buffer's previous band was encoded before the last one started.
    Bitmap& buffer = buffers[static_cast<std::size_t>(bandCount % 2)];
    if (buffer.empty()) buffer = Bitmap(edge, rows, result, Uninitialised{}, &run.memory());
    return Rows(SamplesOf<T>(buffer), 0, rows);
  };
  outputs.filled = [&](int i, int firstRow, int rows) {
    const auto index = static_cast<std::size_t>(i);
    if (!files[index]) {
      // Whole: saved now when made out of turn, else in its turn.
      if (firstRow + rows == edge && next < index) save(i, releases);
      return;
    }
    if (encoding.Valid()) encoding.Get();
    const Bitmap& buffer = buffers[static_cast<std::size_t>(bandCount++ % 2)];
    const bool last = firstRow + rows == edge;
    encoding = run.workers().Submit([file = files[index].get(), &buffer, rows, last] {
      file->WriteRows(buffer, rows);
      if (last) file->Close();
    });
  };
  outputs.done = [&](int i) {
    linesUpTo(static_cast<std::size_t>(i));
    filer.DoProgress("....", spUpdate);
    if (!files[static_cast<std::size_t>(i)] && !saved[static_cast<std::size_t>(i)]) save(i, false);
  };
  if (releases) {
    outputs.passed = [&panorama](int rows) {
      DiscardPixels(panorama.data(), static_cast<std::size_t>(rows) * panorama.rowBytes());
    };
    // A decoder that gets further ahead helps with the faces instead.
    outputs.leadRows = static_cast<int>(std::max<std::size_t>(
        1, kDecoderLeadBytes / std::max<std::size_t>(1, panorama.rowBytes())));
  }
  ResampleFacesFromPanorama<T>(source, indices, edge, edge, outputs, view, options.filter,
                               run.workers(), &run.cancel(), decoded);
  if (encoding.Valid()) encoding.Get();
  linesUpTo(filer.FileNames.size());
  saves.Finish();
}

}  // namespace

int ResampledFaceEdge(const ResampleOptions& options, int panoramaWidth, int classicEdge) {
  return options.faceEdge > 0 ? options.faceEdge
         : options.autoSize   ? AutoFaceEdge(panoramaWidth)
                              : classicEdge;
}

int ResampledPanoramaWidth(const ResampleOptions& options, int faceWidth, int classicWidth) {
  return options.panoramaWidth > 0 ? options.panoramaWidth
         : options.autoSize        ? AutoPanoramaWidth(faceWidth)
                                   : classicWidth;
}

bool ResampleCubeFaces(TCubeFiler& filer, Bitmap& panorama) {
  RunContext& run = filer.Context();
  const std::string fileName = filer.GetImageFileName();
  if (!FileExists(fileName)) return false;
  run.BeginStage(RunStage::Loading, 1);
  filer.DoProgress("読み込んでいます。　" + fileName, spAppend);
  filer.LoadResultMetadata(fileName);
  run.cancel().Check();
  // A source deeper than 24 bits keeps its depth when the output type holds
  // it; the rest is resampled in 24 bits.
  const OutputFormat* output = ExtractImageTypeFormat(filer.GetExtractImageType());
  // A colour JPEG decodes on one worker while the faces are made on the
  // others, each tile once the decoder has finished the rows it reads.
  if (const auto jpeg = run.ParallelJpeg(fileName); jpeg && jpeg->colour) {
    run.StartSourceDecode(fileName, jpeg->width, jpeg->height, panorama);
    try {
      ResampleFaces<std::uint8_t>(filer, panorama, PixelFormat::Bgr24, &run.source->rows);
      filer.NoteIncomplete(run.FinishSource(), fileName);
    } catch (...) {
      run.DropSource();
      throw;
    }
    return true;
  }
  DecodeContext context = run.decode();
  context.keepDepth = output != nullptr;
  Bitmap target(&run.memory());
  LoadReport report;
  if (!LoadImageFile(target, fileName, &report, context)) return false;
  panorama.swap(target);
  filer.NoteIncomplete(report, fileName);
  const PixelFormat source = panorama.format();
  const PixelFormat held = HeldFormat(output, source);
  if (IsDeep(source) && ConversionLoses(source, IsDeep(held) ? held : PixelFormat::Bgr24)) {
    filer.DoProgress(kReducedDepthLine, spAppend);
  }
  if (!IsDeep(source) || !IsDeep(held)) {
    ConvertToBgr24(panorama);
    ResampleFaces<std::uint8_t>(filer, panorama, PixelFormat::Bgr24);
    return true;
  }
  const PixelFormat working = DeepWorkingFormat(source);
  if (source != working) {
    Bitmap converted = ConvertFormat(panorama, working, run.workers());
    panorama.swap(converted);
  }
  WithSampleType(working,
                 [&](auto sample) { ResampleFaces<decltype(sample)>(filer, panorama, held); });
  return true;
}

bool ResamplePanorama(TPanoFiler& filer, const std::string& fileName,
                      const std::string& savingLine) {
  RunContext& run = filer.Context();
  if (filer.FileNames.size() != kFaceCount) throw ArgumentError("The face names are not built.");
  std::array<Bitmap, kFaceCount> faces;
  // Faces read from an arranged source (a preset's turned faces, one image)
  // come already as the six faces.
  const bool provided = filer.TakeProvidedFaces(faces);
  if (!provided && !FaceFilesReadable(filer.FileNames)) return false;

  // The faces decode on all the run's threads at once (the caller too);
  // each is kept at its own size. Their lines, and a failure, come in list
  // order.
  run.BeginStage(RunStage::Loading, kFaceCount);
  if (!provided) {
    std::array<std::exception_ptr, kFaceCount> failures;
    run.workers().For(0, kFaceCount, [&](int first, int last) {
      for (int d = first; d < last; ++d) {
        const auto i = static_cast<std::size_t>(d);
        try {
          run.cancel().Check();
          Bitmap face(&run.memory());
          if (LoadImageFile(face, filer.FileNames[i], nullptr, run.decode())) ConvertToBgr24(face);
          faces[i] = std::move(face);
        } catch (...) {
          failures[i] = std::current_exception();
        }
      }
    });
    for (int d = 0; d < kFaceCount; ++d) {
      run.cancel().Check();
      const std::string& name = filer.FileNames[static_cast<std::size_t>(d)];
      filer.DoProgress("読み込んでいます。　" + ExtractFileName(name), spAppend);
      if (failures[static_cast<std::size_t>(d)]) {
        std::rethrow_exception(failures[static_cast<std::size_t>(d)]);
      }
      if (faces[static_cast<std::size_t>(d)].empty()) {
        ShowErrorMessage("Cube 画像ファイルがありません。\n" + ExpandFileName(name));
        return false;
      }
    }
  }

  std::array<RasterView<const std::uint8_t>, kFaceCount> views;
  for (int d = 0; d < kFaceCount; ++d) {
    views[static_cast<std::size_t>(d)] = SamplesOf<std::uint8_t>(faces[d]);
  }
  const PanoramaBands plan = BeginPanorama(filer, faces[1].width());
  const int width = plan.width, height = plan.height, bandRows = plan.rows;
  const ResampleOptions& options = filer.Options.resample;
  const Orientation view = ViewOf(options);
  const auto dot = [&](int) { filer.DoProgress(".", spUpdate); };

  if (filer.GetExtractImageType() != eiJpeg) {
    Bitmap panorama(width, height, PixelFormat::Bgr24, Uninitialised{}, &run.memory());
    const RasterView<std::uint8_t> target = SamplesOf<std::uint8_t>(panorama);
    ResamplePanoramaBands<std::uint8_t>(
        views, width, height, bandRows, [&](int y0, int rows) { return Rows(target, y0, rows); },
        dot, view, options.filter, run.workers(), &run.cancel());
    // The faces are not needed for the writing.
    for (Bitmap& face : faces) face = Bitmap();
    run.BeginStage(RunStage::Writing, 1);
    filer.DoProgress(savingLine, spAppend);
    filer.SaveImage(panorama, fileName, 0);
    return true;
  }

  // A JPEG is encoded a band at a time on a worker while the next band is
  // made (the resampler takes that worker back whenever it has no band to
  // encode): the encoding hides behind the resampling, and the panorama is
  // never held whole. The bytes are those SaveImage writes.
  JpegResultFile result(fileName, width, height, filer.MetadataFor(eiJpeg), run.outputs);
  std::array<Bitmap, 2> buffers;
  Task<void> encoding;  // after what it uses: a started one is waited for first
  int band = 0;
  ResamplePanoramaBands<std::uint8_t>(
      views, width, height, bandRows,
      [&](int, int rows) {
        // The buffer's previous band was encoded before the last one started.
        Bitmap& buffer = buffers[static_cast<std::size_t>(band % 2)];
        if (buffer.empty()) {
          buffer = Bitmap(width, bandRows, PixelFormat::Bgr24, Uninitialised{}, &run.memory());
        }
        return Rows(SamplesOf<std::uint8_t>(buffer), 0, rows);
      },
      [&](int y0) {
        if (encoding.Valid()) encoding.Get();
        const Bitmap& buffer = buffers[static_cast<std::size_t>(band++ % 2)];
        encoding = run.workers().Submit([&result, &buffer, rows = std::min(bandRows, height - y0)] {
          result.WriteRows(buffer, rows);
        });
        dot(y0);
      },
      view, options.filter, run.workers(), &run.cancel());
  for (Bitmap& face : faces) face = Bitmap();
  run.BeginStage(RunStage::Writing, 1);
  filer.DoProgress(savingLine, spAppend);
  if (encoding.Valid()) encoding.Get();
  buffers = {};
  run.cancel().Check();
  result.Close();
  return true;
}

bool ResampleDeepPanorama(TPanoFiler& filer, const std::string& fileName) {
  RunContext& run = filer.Context();
  if (filer.FileNames.size() != kFaceCount) throw ArgumentError("The face names are not built.");
  run.BeginStage(RunStage::Loading, kFaceCount);
  std::vector<Bitmap> faces;
  PixelFormat deepest = PixelFormat::Bgr24;
  if (!filer.LoadDeepFaces(faces, deepest)) return false;
  if (faces.size() != kFaceCount) throw ArgumentError("Six faces are needed.");

  const PanoramaBands plan = BeginPanorama(filer, faces[1].width());
  const int width = plan.width, height = plan.height, bandRows = plan.rows;
  const ResampleOptions& options = filer.Options.resample;
  const PixelFormat working = faces[0].format();
  Bitmap panorama(width, height, working, Uninitialised{}, &run.memory());
  WithSampleType(working, [&](auto sample) {
    using T = decltype(sample);
    std::array<RasterView<const T>, kFaceCount> views;
    for (std::size_t d = 0; d < kFaceCount; ++d) {
      Premultiply<T>(faces[d], false, run.workers());
      views[d] = SamplesOf<T>(faces[d]);
    }
    const RasterView<T> target = SamplesOf<T>(panorama);
    ResamplePanoramaBands<T>(
        views, width, height, bandRows, [&](int y0, int rows) { return Rows(target, y0, rows); },
        [&](int) { filer.DoProgress(".", spUpdate); }, ViewOf(options), options.filter,
        run.workers(), &run.cancel());
    faces.clear();
    Premultiply<T>(panorama, true, run.workers());
  });
  filer.SaveDeepPanorama(panorama, deepest, fileName);
  return true;
}

}  // namespace skyfold
