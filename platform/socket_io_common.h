#pragma once
// What the socket layers of both targets share: the test shaper and the
// layout of sliced transfers (socket_io_common.cpp also holds the moves of
// DatagramSocket). Used only inside platform/.
#include <algorithm>
#include <cstddef>

#include "platform/socket_io.h"

namespace halvix::platform {

// Applies the test shaper. Returns false when the transfer must report
// would-block; otherwise `size` is lowered to what may move. A zero-length
// request is not a transfer and is never shaped.
bool shapeTransfer(int fd, bool sending, std::size_t& size);

// The bytes one sliced transfer asks for: the first kMaxSendSlices slices'
// total, cut to kMaxTransfer.
template <typename Slice>
std::size_t slicesTotal(const Slice* slices, std::size_t count) {
  count = std::min(count, kMaxSendSlices);
  std::size_t size = 0;
  for (std::size_t k = 0; k < count; ++k) size += std::min(slices[k].size, kMaxTransfer - size);
  return size;
}

// Hands place(index, data, length) the non-empty pieces that hold the first
// `size` bytes of the slices, in order; returns how many it handed (at most
// kMaxSendSlices).
template <typename Slice, typename Place>
std::size_t laySlices(const Slice* slices, std::size_t count, std::size_t size, Place place) {
  count = std::min(count, kMaxSendSlices);
  std::size_t used = 0;
  for (std::size_t k = 0; k < count && size > 0; ++k) {
    const std::size_t take = std::min(slices[k].size, size);
    if (take == 0) continue;
    place(used++, const_cast<void*>(static_cast<const void*>(slices[k].data)), take);
    size -= take;
  }
  return used;
}

}  // namespace halvix::platform
