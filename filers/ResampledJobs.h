// The steps of a job on the general resampler (filers/SphereResampler.h),
// which the engine runs instead of the classic warp when the job's
// resampling options ask for it: a turned view, a filter, a size the classic conversion
// does not offer.
#pragma once

#include <string>

#include "filers/CubeFiler.h"
#include "filers/JobOptions.h"
#include "filers/PanoFiler.h"
#include "imaging/Bitmap.h"

namespace skyfold {

// The face edge and the panorama width a job makes: the option's size, the
// automatic one, or the classic.
int ResampledFaceEdge(const ResampleOptions& options, int panoramaWidth, int classicEdge);
int ResampledPanoramaWidth(const ResampleOptions& options, int faceWidth, int classicWidth);

// Forward: loads the panorama (any size, not stretched), then makes and
// saves each face straight from it, at the source's depth (with alpha
// premultiplied) where the output type holds it, else in 24 bits. False,
// after the loader's message, when nothing was loaded.
bool ResampleCubeFaces(TCubeFiler& filer, Bitmap& panorama);

// Inverse: loads the six faces named in FileNames (each at its own size),
// makes the panorama straight from them and saves it under fileName. False,
// after one message, when a face is missing or of a kind the loader does
// not read.
bool ResamplePanorama(TPanoFiler& filer, const std::string& fileName,
                      const std::string& savingLine);
// The same for faces deeper than 24 bits (or with alpha) into a type that
// holds them (TPanoFiler::UsesDeepFaces): the panorama keeps their depth.
bool ResampleDeepPanorama(TPanoFiler& filer, const std::string& fileName);

}  // namespace skyfold
