#include <gtest/gtest.h>

#include <cstdint>

#include "imaging/Bitmap.h"
#include "imaging/PagePrefault.h"
#include "imaging/Parallel.h"

namespace skyfold {
namespace {

// The helper maps pages while the owner writes them from the front: every
// byte written must still be there afterwards, wherever the helper was.
TEST(PagePrefault, WritingWhilePagesAreMappedKeepsEveryByte) {
  ThreadPool pool(2);
  for (int round = 0; round < 3; ++round) {
    Bitmap b(4096, 2048, PixelFormat::Bgr24, Uninitialised{});  // 24 MB
    {
      PagePrefault prefault(b.data(), b.byteSize(), pool.workers());
      for (int y = 0; y < b.height(); ++y) {
        std::uint8_t* row = b.row(y);
        for (std::size_t i = 0; i < b.rowBytes(); ++i) row[i] = static_cast<std::uint8_t>(y + i);
      }
    }
    for (int y = 0; y < b.height(); y += 7) {
      const std::uint8_t* row = b.row(y);
      for (std::size_t i = 0; i < b.rowBytes(); i += 13) {
        ASSERT_EQ(row[i], static_cast<std::uint8_t>(y + i)) << y << "," << i;
      }
    }
  }
}

}  // namespace
}  // namespace skyfold
