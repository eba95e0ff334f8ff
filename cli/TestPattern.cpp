// test-pattern: writes the labelled test panorama in the type its name
// says, whole or not at all.
#include "imaging/TestPattern.h"

#include <exception>
#include <string>

#include "cli/Jobs.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"
#include "imaging/PathUtils.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

int RunTestPattern(const TestPatternOptions& options, std::ostream& out, std::ostream& err) {
  const std::string problem = OutputNameProblem(options.output);
  if (!problem.empty()) {
    err << problem << '\n';
    return kExitRefused;
  }
  if (!options.force && FileExists(options.output)) {
    err << ExpandFileName(options.output)
        << ": the file already exists (use --force to replace it)\n";
    return kExitRefused;
  }
  try {
    const Bitmap pattern = MakeTestPattern(options.width);
    OutputCommit commit(options.force);
    switch (GetImageFileKind(options.output)) {
      case ikBitmap:
        SaveBitmapAsBmp(options.output, pattern, &commit);
        break;
      case ikJpeg:
        SaveBitmapAsJpeg(options.output, pattern, 100, &commit);
        break;
      default:
        SaveBitmapAsTiff(options.output, pattern, &commit);
        break;
    }
    for (const std::string& path : commit.Commit()) out << path << '\n';
  } catch (const std::exception& e) {
    err << DescribeError(e) << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace skyfold::cli
