#include "codecs/TiffDirectory.h"

#include <cstring>

#include "imaging/Errors.h"

namespace skyfold {

namespace {

constexpr const char* kDirectoryMessage =
    "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
// More entries than any tag set defines: a directory count beyond it is
// garbage, not a directory.
constexpr std::uint16_t kMaxEntries = 4096;

enum Type : std::uint16_t { kByte = 1, kShort = 3, kLong = 4 };

[[noreturn]] void Unreadable(const std::string& why) { throw CodecError(kDirectoryMessage, why); }

}  // namespace

TiffDirectory::TiffDirectory(const InputFile& file) : file_(file) {
  std::uint8_t header[8];
  if (file.readAt(0, header, sizeof header) != sizeof header) Unreadable("too short for a TIFF");
  if (header[0] == 'M' && header[1] == 'M') {
    bigEndian_ = true;
  } else if (!(header[0] == 'I' && header[1] == 'I')) {
    Unreadable("no TIFF byte order mark");
  }
  if (u16(header + 2) != 42) Unreadable("not a classic TIFF");
  const std::uint32_t offset = u32(header + 4);
  std::uint8_t countBytes[2];
  if (file.readAt(offset, countBytes, 2) != 2)
    Unreadable("the first directory is outside the file");
  const std::uint16_t count = u16(countBytes);
  if (count == 0 || count > kMaxEntries) Unreadable("the first directory has no entries");
  std::vector<std::uint8_t> raw(std::size_t{count} * 12);
  if (file.readAt(std::uint64_t{offset} + 2, raw.data(), raw.size()) != raw.size()) {
    Unreadable("the first directory runs past the end of the file");
  }
  entries_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = raw.data() + i * 12;
    Entry e{u16(p), u16(p + 2), u32(p + 4), {}};
    std::memcpy(e.field, p + 8, 4);
    // libtiff keeps the first of duplicated tags; so do we.
    if (!has(e.tag)) entries_.push_back(e);
  }
}

const TiffDirectory::Entry* TiffDirectory::find(std::uint16_t tag) const {
  for (const Entry& e : entries_) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

std::uint64_t TiffDirectory::count(std::uint16_t tag) const {
  const Entry* e = find(tag);
  return e ? e->count : 0;
}

std::uint32_t TiffDirectory::value(std::uint16_t tag, std::uint32_t fallback) const {
  const Entry* e = find(tag);
  if (!e || e->count == 0) return fallback;
  const unsigned size = e->type == kByte ? 1 : e->type == kShort ? 2 : e->type == kLong ? 4 : 0;
  if (size == 0) return fallback;
  // The values lie in the field when they fit, else at the offset it holds.
  std::uint8_t first[4] = {};
  if (std::uint64_t{size} * e->count <= 4) {
    std::memcpy(first, e->field, size);
  } else if (file_.readAt(u32(e->field), first, size) != size) {
    return fallback;
  }
  return size == 1 ? first[0] : size == 2 ? u16(first) : u32(first);
}

std::uint16_t TiffDirectory::u16(const std::uint8_t* p) const {
  return static_cast<std::uint16_t>(bigEndian_ ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
}

std::uint32_t TiffDirectory::u32(const std::uint8_t* p) const {
  return bigEndian_ ? std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                          std::uint32_t{p[2]} << 8 | p[3]
                    : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                          std::uint32_t{p[1]} << 8 | p[0];
}

}  // namespace skyfold
