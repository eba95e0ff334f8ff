#include "imaging/ExrMetadata.h"

#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOpaqueAttribute.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <ImfTestFile.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <vector>

namespace skyfold {

namespace {

constexpr const char* kIccHint = "application/vnd.iccprofile";

// Bytes handed to an attribute's reader.
class MemoryInput : public Imf::IStream {
 public:
  explicit MemoryInput(const std::vector<char>& bytes) : Imf::IStream("memory"), bytes_(bytes) {}
  bool read(char c[], int n) override {
    const auto count = static_cast<std::size_t>(n);
    if (position_ + count > bytes_.size()) throw std::out_of_range("attribute");
    std::memcpy(c, bytes_.data() + position_, count);
    position_ += count;
    return position_ < bytes_.size();
  }
  std::uint64_t tellg() override { return position_; }
  void seekg(std::uint64_t pos) override { position_ = static_cast<std::size_t>(pos); }

 private:
  const std::vector<char>& bytes_;
  std::size_t position_ = 0;
};

// A "bytes" attribute: the hint's length (32 bits, little-endian), the hint,
// the data.
void InsertBytes(Imf::Header& header, const char* name, const std::string& hint,
                 const std::vector<std::uint8_t>& data) {
  const auto length = static_cast<std::uint32_t>(hint.size());
  std::vector<char> value(4 + hint.size() + data.size());
  for (int i = 0; i < 4; ++i) value[i] = static_cast<char>((length >> (8 * i)) & 0xff);
  std::memcpy(value.data() + 4, hint.data(), hint.size());
  std::memcpy(value.data() + 4 + hint.size(), data.data(), data.size());
  Imf::OpaqueAttribute attribute("bytes");
  MemoryInput input(value);
  attribute.readValueFrom(input, static_cast<int>(value.size()), 2);
  header.insert(name, attribute);
}

std::vector<std::uint8_t> BytesOf(const Imf::Header& header, const char* name) {
  const auto* attribute = header.findTypedAttribute<Imf::OpaqueAttribute>(name);
  if (attribute == nullptr || std::strcmp(attribute->typeName(), "bytes") != 0) return {};
  const auto* p =
      reinterpret_cast<const std::uint8_t*>(static_cast<const char*>(attribute->data()));
  const auto size = static_cast<std::size_t>(attribute->dataSize());
  if (size < 4) return {};
  const std::size_t hint = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::size_t>(p[3]) << 24;
  if (hint > size - 4) return {};
  return std::vector<std::uint8_t>(p + 4 + hint, p + size);
}

}  // namespace

void PutExrMetadata(Imf::Header& header, const ImageMetadata& metadata) {
  if (!metadata.icc.empty()) InsertBytes(header, "iccProfile", kIccHint, metadata.icc);
  if (!metadata.xmp.empty()) header.insert("xmp", Imf::StringAttribute(metadata.xmp));
  const CaptureTags tags = ReadCaptureTags(metadata);
  if (!tags.date.empty()) Imf::addCapDate(header, tags.date);
  if (!tags.copyright.empty()) Imf::addOwner(header, tags.copyright);
  if (tags.latitude) Imf::addLatitude(header, static_cast<float>(*tags.latitude));
  if (tags.longitude) Imf::addLongitude(header, static_cast<float>(*tags.longitude));
  if (tags.altitude) Imf::addAltitude(header, static_cast<float>(*tags.altitude));
  if (metadata.equirectangular) Imf::addEnvmap(header, Imf::ENVMAP_LATLONG);
}

bool GetExrMetadata(const std::string& fileName, ImageMetadata& metadata) {
  try {
    if (!Imf::isOpenExrFile(fileName.c_str())) return false;
    const Imf::InputFile file(fileName.c_str());
    const Imf::Header& header = file.header();
    metadata.icc = BytesOf(header, "iccProfile");
    if (const auto* xmp = header.findTypedAttribute<Imf::StringAttribute>("xmp")) {
      metadata.xmp = xmp->value();
    }
    CaptureTags tags;
    if (Imf::hasCapDate(header)) tags.date = Imf::capDate(header);
    if (Imf::hasOwner(header)) tags.copyright = Imf::owner(header);
    if (Imf::hasLatitude(header)) tags.latitude = Imf::latitude(header);
    if (Imf::hasLongitude(header)) tags.longitude = Imf::longitude(header);
    if (Imf::hasAltitude(header)) tags.altitude = Imf::altitude(header);
    metadata.equirectangular = Imf::hasEnvmap(header) && Imf::envmap(header) == Imf::ENVMAP_LATLONG;
    AddCaptureTags(metadata, tags);
  } catch (const std::exception&) {
    metadata = {};  // metadata never fails a job
  }
  return true;
}

}  // namespace skyfold
