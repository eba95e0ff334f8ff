// What a decoder may use of the run it serves: its threads (to map the
// pages of a large result on another core) and its cancel token (checked
// between scanlines), and a gate told of the rows decoded so far. The pixels
// come from the pool of the bitmap being filled. A default context decodes on the calling thread
// alone.
#pragma once

#include "imaging/Cancel.h"
#include "imaging/Parallel.h"
#include "imaging/RowGate.h"

namespace skyfold {

struct DecodeContext {
  Workers workers;
  const CancelToken* cancel = nullptr;
  // Told of the rows as they are decoded, where a reader follows the decoder.
  RowGate* rows = nullptr;
  // Keep 16-bit and float samples and alpha (the decoders' loadDeep) rather
  // than the classic 8-bit reduction.
  bool keepDepth = false;
  // JPEG only: decode at 1/scaleDenom of the size (1 … 8), with libjpeg's
  // scaled inverse DCT, a fraction of the work and memory; for previews.
  int scaleDenom = 1;
};

}  // namespace skyfold
