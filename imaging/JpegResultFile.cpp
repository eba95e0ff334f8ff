#include "imaging/JpegResultFile.h"

#include <utility>
#include <vector>

#include "imaging/Errors.h"

namespace skyfold {

JpegResultFile::JpegResultFile(const std::string& fileName, int width, int height,
                               ImageMetadata metadata, OutputCommit* commit)
    : fileName_(fileName),
      commit_(commit),
      metadata_(std::move(metadata)),
      encoder_(width, height, 100,
               metadata_.Empty()
                   ? JpegStreamEncoder::Sink([this](const std::uint8_t* data, std::size_t size) {
                       if (!direct_) direct_.emplace(fileName_, commit_);
                       direct_->write(data, size);
                     })
                   : JpegStreamEncoder::Sink()) {}

void JpegResultFile::Close() {
  std::vector<std::uint8_t> bytes = encoder_.Finish();
  if (metadata_.Empty()) {
    // Finish has handed over the file's last bytes, so it is open.
    if (!direct_) throw CodecError("The JPEG encoder wrote nothing.");
    direct_->close();
    return;
  }
  OutputFile file(fileName_, commit_);
  WriteWithMetadata(file, std::move(bytes), metadata_);
  file.close();
}

}  // namespace skyfold
