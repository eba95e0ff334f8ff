// What a decoder may use of the run it serves: its threads (to map the
// pages of a large result on another core) and its cancel token (checked
// between scanlines). The pixels come from the pool of the bitmap being
// filled. A default context decodes on the calling thread alone.
#pragma once

#include "imaging/Cancel.h"
#include "imaging/Parallel.h"

namespace skyfold {

struct DecodeContext {
  Workers workers;
  const CancelToken* cancel = nullptr;
};

}  // namespace skyfold
