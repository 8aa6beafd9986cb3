#include "modules/zsocket/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace halvix::modules::zsocket {

bool ByteBuffer::expand(std::size_t n) {
  if (n > kMaxCapacity || misalign + length > kMaxCapacity - n) return false;
  const std::size_t need = misalign + length + n;
  if (capacity >= need) return true;
  if (misalign >= n) {
    std::memmove(storage, data, length);
    data = storage;
    misalign = 0;
    return true;
  }
  std::size_t c = capacity > kMinCapacity ? capacity : kMinCapacity;
  while (c < need) c *= 2;  // need <= kMaxCapacity, a power of two: cannot overflow
  if (c > kMaxCapacity) return false;
  if (misalign != 0) {
    std::memmove(storage, data, length);
    data = storage;
    misalign = 0;
  }
  auto* grown = static_cast<unsigned char*>(std::realloc(storage, c));
  if (grown == nullptr) return false;
  // Bytes past the old block are exposed by drain's extra; never hand out
  // uninitialised heap memory.
  std::memset(grown + capacity, 0, c - capacity);
  storage = grown;
  data = grown;
  capacity = c;
  return true;
}

bool ByteBuffer::overlapsStorage(const void* p, std::size_t n) const {
  if (storage == nullptr || p == nullptr || n == 0) return false;
  auto begin = reinterpret_cast<std::uintptr_t>(p);
  auto blockBegin = reinterpret_cast<std::uintptr_t>(storage);
  std::uintptr_t end = begin + n < begin ? UINTPTR_MAX : begin + n;
  return begin < blockBegin + capacity && blockBegin < end;
}

bool ByteBuffer::append(const void* bytes, std::size_t n) { return insert(length, bytes, n); }

bool ByteBuffer::overwrite(std::size_t offset, const void* bytes, std::size_t n) {
  if (offset > length || n > length - offset) return false;
  std::memmove(data + offset, bytes, n);
  return true;
}

bool ByteBuffer::insert(std::size_t offset, const void* bytes, std::size_t n) {
  if (offset > length) return false;
  if (n == 0) return true;
  if (n > kMaxCapacity || misalign + length > kMaxCapacity - n) return false;
  if (overlapsStorage(bytes, n)) {
    // The block may move while growing; copy the source out first.
    std::vector<unsigned char> copy(static_cast<const unsigned char*>(bytes),
                                    static_cast<const unsigned char*>(bytes) + n);
    return insert(offset, copy.data(), n);
  }
  if (!reserve(n)) return false;
  std::memmove(data + offset + n, data + offset, length - offset);
  std::memcpy(data + offset, bytes, n);
  length += n;
  return true;
}

void ByteBuffer::consume(std::size_t n) {
  if (n >= length) {
    reset();
  } else {
    data += n;
    misalign += n;
    length -= n;
  }
}

void ByteBuffer::rollback(std::size_t n) {
  data = storage;
  misalign = 0;
  length = n < capacity ? n : capacity;
}

void ByteBuffer::reset() {
  length = 0;
  data = storage;
  misalign = 0;
}

void ByteBuffer::release() {
  std::free(storage);
  *this = ByteBuffer{};
}

void ByteBuffer::swap(ByteBuffer& other) { std::swap(*this, other); }

}  // namespace halvix::modules::zsocket
