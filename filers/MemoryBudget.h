// The memory a job may take, and what a job will take, reckoned from the
// declared sizes of its files before anything is allocated, so that a job
// over the budget is refused at once instead of swapping the machine or
// failing half-way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/ImageInfo.h"

namespace skyfold {

// Three quarters of the physical memory, or of the address-space limit when
// that is lower.
std::uint64_t DefaultMemoryBudget();

// Upper bounds of a job's peak memory: a forward job from `source` into
// faces of faceEdge, and an inverse job from `faces` into a panorama
// `panoramaWidth` wide; `threads` is the run's thread budget (faces are
// decoded and encoded ahead on the workers). Arranged faces (a preset or a
// single-image layout) are all kept until the last is cut.
std::uint64_t ForwardJobBytes(const ImageHeader& source, int faceEdge, int threads,
                              bool arranged = false);
std::uint64_t InverseJobBytes(const std::vector<ImageHeader>& faces, int panoramaWidth,
                              int threads);

// "1.5 GiB", "640 MiB"
std::string ByteText(std::uint64_t bytes);

// The refusal of a job that needs `needed` bytes, naming the file and its
// declared size.
std::string OverBudgetMessage(const std::string& fileName, const ImageHeader& header,
                              std::uint64_t needed, std::uint64_t budget);

// Reads "4G", "512M", "1.5GiB", "800000000" (K, M, G, T are powers of
// 1024; a trailing "B" or "iB" is allowed). 0 when the text is not a size.
std::uint64_t ParseByteSize(const std::string& text);

}  // namespace skyfold
