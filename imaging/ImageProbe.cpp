#include "imaging/ImageProbe.h"

#include <new>

#include "codecs/DecoderRegistry.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

ImageHeader ProbeImageFile(const std::string& fileName) {
  return NotingFile(fileName, [&] {
    const InputFile file(fileName);
    switch (GetImageFileKind(fileName)) {
      case ikBitmap:
        return ProbeBmp(file);
      case ikJpeg:
        return ProbeJpeg(file);
      default:
        return ProbeImageByContent(file);
    }
  });
}

}  // namespace skyfold
