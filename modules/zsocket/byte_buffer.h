#pragma once
// The contiguous byte queue behind ZBUFFERMT and the CDR encoders' scratch
// output. Plain memory management, no Lua: the record is the userdata payload
// as it is, so it stays a standard-layout aggregate that is valid all-zero.
// Its fields are read freely, but only the operations below change them.
#include <cstddef>
#include <cstdint>

namespace halvix::modules::zsocket {

struct ByteBuffer {
  unsigned char* data;     // storage + misalign
  unsigned char* storage;  // heap block owned by the buffer, null until the first growth
  std::size_t misalign;    // consumed bytes at the front, not yet reclaimed
  std::size_t capacity;    // size of the heap block
  std::size_t length;      // content bytes

  static constexpr std::size_t kMinCapacity = 256;
  // Hard ceiling of a block; a request beyond it fails like an allocation failure.
  static constexpr std::size_t kMaxCapacity = std::size_t{1} << 32;

  // Makes room for n more bytes after the contents: enough capacity already,
  // else a realigning move when the consumed prefix alone is large enough,
  // else a block of max(capacity, 256) doubled until it fits. False when the
  // block cannot grow (the buffer keeps its old block, possibly realigned).
  bool expand(std::size_t n);
  // expand(n) with the common case inline.
  bool reserve(std::size_t n) { return capacity - misalign - length >= n || expand(n); }
  // Copies n bytes behind the contents. `bytes` may point into this buffer's
  // own block; they are copied aside before the block can move.
  bool append(const void* bytes, std::size_t n);
  // Counts n more bytes behind the contents as contents, without writing
  // them: bytes the caller wrote at end() after reserving room, or whatever
  // the block holds there. n must fit the room behind the contents.
  void commit(std::size_t n) { length += n; }
  // Copies n bytes over the contents from offset on; false, writing nothing,
  // unless the whole span lies inside the contents.
  bool overwrite(std::size_t offset, const void* bytes, std::size_t n);
  // Moves the contents from offset on back by n bytes and copies the n bytes
  // into the gap; offset may be the length. False when the block cannot grow.
  bool insert(std::size_t offset, const void* bytes, std::size_t n);
  void consume(std::size_t n);
  // Keeps only the first n content bytes (nothing changes when n >= length);
  // the contents stay where they are in the block.
  void truncate(std::size_t n) {
    if (n < length) length = n;
  }
  // The contents become the first min(n, capacity) bytes of the block,
  // re-exposing consumed bytes that nothing has moved since.
  void rollback(std::size_t n);
  // Empties the buffer, keeping the block.
  void reset();
  // Frees the block and zeroes the record; safe to call twice.
  void release();
  void swap(ByteBuffer& other);
  // True when [p, p + n) overlaps the heap block.
  bool overlapsStorage(const void* p, std::size_t n) const;
  // The writable space behind the contents.
  unsigned char* end() { return data + length; }
};

// A ByteBuffer that frees its block when it goes out of scope.
class ScratchBuffer {
 public:
  ScratchBuffer() = default;
  ~ScratchBuffer() { buffer_.release(); }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  ByteBuffer& get() { return buffer_; }

 private:
  ByteBuffer buffer_{};
};

}  // namespace halvix::modules::zsocket
