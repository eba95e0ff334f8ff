// The first directory of a classic TIFF file as it is stored, read without
// libtiff. libtiff repairs what it reads (it pads or cuts a strip table to
// the size it expects, drops a ColorMap of the wrong length and then reads a
// palette image as grey), so the checks that must see the file as written
// read it here: the counts of the strip and tile tables, the ColorMap, the
// declared size and compression for the header probe.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/InputFile.h"

namespace skyfold {

class TiffDirectory {
 public:
  // Reads the header and the entries of the first directory (file must
  // outlive this object: values are read from it on demand). Throws
  // CodecError "Cannot load image. Invalid or unexpected TIF/TIFF image
  // format." when they are not there.
  explicit TiffDirectory(const InputFile& file);

  bool has(std::uint16_t tag) const { return find(tag) != nullptr; }
  // The number of values a tag holds, 0 when it is absent.
  std::uint64_t count(std::uint16_t tag) const;
  // The first value of a BYTE, SHORT or LONG tag; fallback when the tag is
  // absent, of another type or empty.
  std::uint32_t value(std::uint16_t tag, std::uint32_t fallback) const;

 private:
  struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint8_t field[4];  // the value, or its offset, in file byte order
  };
  const Entry* find(std::uint16_t tag) const;
  std::uint32_t u32(const std::uint8_t* p) const;
  std::uint16_t u16(const std::uint8_t* p) const;

  const InputFile& file_;
  bool bigEndian_ = false;
  std::vector<Entry> entries_;
};

}  // namespace skyfold
