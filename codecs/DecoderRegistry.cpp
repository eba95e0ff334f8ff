#include "codecs/DecoderRegistry.h"

#include <fstream>

#include "imaging/Errors.h"

namespace skyfold {

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

void LoadImageByContent(const std::string& fileName, Bitmap& bitmap) {
  const ImageDecoder* decoder = nullptr;
  {
    std::ifstream stream(fileName, std::ios::binary);
    if (!stream) throw FileError("ファイル \"" + fileName + "\" を開けません。");
    decoder = FindDecoder(stream);
  }  // closed before the decoder opens it again
  if (!decoder) throw CodecError("Cannot load image. Unknown image format.");
  decoder->load(fileName, bitmap);
}

}  // namespace skyfold
