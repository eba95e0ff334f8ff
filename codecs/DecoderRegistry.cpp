#include "codecs/DecoderRegistry.h"

#include <array>
#include <streambuf>

#include "imaging/Errors.h"

namespace skyfold {

namespace {

constexpr const char* kUnknownFormatMessage = "Cannot load image. Unknown image format.";

// A read-only, seekable stream over an InputFile, so that the content tests
// read the very descriptor that was checked to be a regular file.
class InputFileBuffer final : public std::streambuf {
 public:
  explicit InputFileBuffer(const InputFile& file) : file_(file) {}

 protected:
  int_type underflow() override {
    const std::size_t got = file_.readAt(next_, chunk_.data(), chunk_.size());
    if (got == 0) return traits_type::eof();
    setg(chunk_.data(), chunk_.data(), chunk_.data() + got);
    start_ = next_;
    next_ += got;
    return traits_type::to_int_type(chunk_[0]);
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    const std::int64_t here = static_cast<std::int64_t>(start_) + (gptr() - eback());
    const std::int64_t base = dir == std::ios_base::beg   ? 0
                              : dir == std::ios_base::cur ? here
                                                          : static_cast<std::int64_t>(file_.size());
    return seekpos(pos_type(base + off), std::ios_base::in);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    if (pos < 0) return pos_type(off_type(-1));
    setg(nullptr, nullptr, nullptr);
    start_ = next_ = static_cast<std::uint64_t>(static_cast<off_type>(pos));
    return pos;
  }

 private:
  const InputFile& file_;
  std::uint64_t start_ = 0;  // file offset of the buffer's first byte
  std::uint64_t next_ = 0;   // file offset after the buffer
  std::array<char, 512> chunk_{};
};

const ImageDecoder& DecoderFor(const InputFile& file) {
  const ImageDecoder* decoder = FindDecoder(file);
  if (!decoder) throw CodecError(kUnknownFormatMessage);
  return *decoder;
}

}  // namespace

void ImageDecoder::load(const std::string& fileName, Bitmap& bitmap) const {
  const InputFile file(fileName);
  load(file, bitmap, nullptr);
}

std::vector<std::uint8_t> PeekBytes(std::istream& stream, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  const std::istream::pos_type start = stream.tellg();
  stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(stream.gcount()));
  stream.clear();
  stream.seekg(start);
  return bytes;
}

std::uint64_t RemainingBytes(std::istream& stream) {
  const std::istream::pos_type start = stream.tellg();
  stream.seekg(0, std::ios::end);
  const std::istream::pos_type end = stream.tellg();
  stream.clear();
  stream.seekg(start);
  if (start < 0 || end < start) return 0;
  return static_cast<std::uint64_t>(end - start);
}

const std::vector<std::unique_ptr<const ImageDecoder>>& RegisteredDecoders() {
  static const std::vector<std::unique_ptr<const ImageDecoder>> decoders = [] {
    std::vector<std::unique_ptr<const ImageDecoder>> list;
    list.push_back(MakeTiffDecoder());
    list.push_back(MakePngDecoder());
    list.push_back(MakeJpegDecoder());
    list.push_back(MakeBmpDecoder());
    list.push_back(MakeExrDecoder());
    list.push_back(MakeHdrDecoder());
    list.push_back(MakeWebpDecoder());
    return list;
  }();
  return decoders;
}

const ImageDecoder* FindDecoder(std::istream& stream) {
  for (const auto& decoder : RegisteredDecoders()) {
    if (decoder->canRead(stream)) return decoder.get();
  }
  return nullptr;
}

const ImageDecoder* FindDecoder(const InputFile& file) {
  InputFileBuffer buffer(file);
  std::istream stream(&buffer);
  return FindDecoder(stream);
}

void LoadImageByContent(const std::string& fileName, Bitmap& bitmap, LoadReport* report) {
  const InputFile file(fileName);
  LoadImageByContent(file, bitmap, report);
}

void LoadImageByContent(const InputFile& file, Bitmap& bitmap, LoadReport* report, bool keepDepth) {
  const ImageDecoder& decoder = DecoderFor(file);
  if (keepDepth) {
    decoder.loadDeep(file, bitmap, report);
  } else {
    decoder.load(file, bitmap, report);
  }
}

ImageHeader ProbeImageByContent(const InputFile& file) { return DecoderFor(file).probe(file); }

}  // namespace skyfold
