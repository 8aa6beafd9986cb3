#pragma once
// The linked buffer's core: a queue of fixed-size chunks. Appends go to the
// tail chunk and never move queued bytes; consumes free chunks at the head.
// No Lua here; linked_buffer_lua.cpp is the binding (ZLINKBUFMT).
#include <cstddef>

namespace halvix::modules::zsocket {

class LinkedBuffer {
 public:
  static constexpr std::size_t kDefaultChunkSize = 4096;
  // One flush hands at most this many chunks / about this many bytes over.
  static constexpr std::size_t kFlushMaxChunks = 16;
  static constexpr std::size_t kFlushMaxBytes = 131072;
  // One read takes at most this much, whatever the limit: a peer that sends
  // as fast as the application drains must neither keep the worker in one
  // call nor grow the queue without bound between two calls.
  static constexpr std::size_t kReadMaxBytes = 1 << 20;
  // A read fills the tail and chunks taken ahead in one call: at most this
  // many, and no more once this much room is there (chunks that stay empty
  // never join the queue, so large ones are not made in vain).
  static constexpr std::size_t kReadAheadChunks = 15;
  static constexpr std::size_t kReadAheadBytes = 65536;
  // Chunks that leave the queue are kept for the next ones made, up to this
  // many and this much room: a queue that is filled and drained over and
  // over (a full read and the read that finds nothing more, which takes its
  // chunks ahead too) then stops paying an allocation and a release per
  // chunk. Chunks larger than this room are freed at once.
  static constexpr std::size_t kMaxSpareChunks = kReadAheadChunks + 1;
  static constexpr std::size_t kSpareBytes = kReadAheadBytes;

  explicit LinkedBuffer(std::size_t chunkSize) : chunkSize_(chunkSize) {}
  ~LinkedBuffer() { reset(); }
  LinkedBuffer(const LinkedBuffer&) = delete;
  LinkedBuffer& operator=(const LinkedBuffer&) = delete;

  void swap(LinkedBuffer& other) noexcept;
  std::size_t length() const { return length_; }
  bool hasChunks() const { return head_ != nullptr; }
  std::size_t chunkSize() const { return chunkSize_; }
  std::size_t chunkCount() const;
  // Empties the queue and releases every chunk, kept ones included.
  void reset() noexcept;

  // Copies bytes in; false when a chunk cannot be allocated (the bytes copied
  // before that stay queued).
  bool append(const char* bytes, std::size_t n);
  void consume(std::size_t n) noexcept;
  std::size_t peek(char* dst, std::size_t n) const noexcept;
  // The first n queued bytes when they lie in the head chunk, else null.
  const char* contiguousFront(std::size_t n) const noexcept;

  // Outcomes of the socket operations. `error` carries errno for Error.
  enum class Status { Done, Pending, Closed, Error };
  struct Outcome {
    Status status;
    std::size_t count = 0;  // bytes moved (readFrom)
    int error = 0;
  };

  // Sends up to kFlushMaxChunks chunks / kFlushMaxBytes from the head and
  // releases what was written. Done: nothing left queued (or nothing was).
  Outcome flushAvailable(int fd);
  // Sends [bytes, bytes + n) directly when nothing is queued, queues the
  // rest. Done when nothing is queued afterwards.
  Outcome write(int fd, const char* bytes, std::size_t n);
  // Receives into the tail until `limit` bytes arrived (limit < 0: until the
  // socket would block), kReadMaxBytes at most. Done with count, or Pending
  // (would block, nothing received), Closed or Error.
  Outcome readFrom(int fd, long long limit);

 private:
  // Frees the first chunk and takes its queued bytes off the length.
  void dropHead() noexcept;
  struct Chunk {
    Chunk* next;
    std::size_t end;
    std::size_t start;
    char* data() { return reinterpret_cast<char*>(this + 1); }
    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
    std::size_t queued() const { return end - start; }
  };

  // A kept chunk or a new block; the caller sets its fields.
  Chunk* takeChunk() noexcept;
  Chunk* newTailChunk() noexcept;
  // Keeps a chunk that left the queue for reuse, or frees it.
  void retire(Chunk* chunk) noexcept;
  void releaseWritten(std::size_t written) noexcept;

  Chunk* head_ = nullptr;
  Chunk* tail_ = nullptr;
  std::size_t chunkSize_;
  std::size_t length_ = 0;  // sum of the chunks' queued bytes, kept for getlen
  // Kept in an array, not linked, so that taking and keeping them does not
  // touch their (scattered) memory.
  Chunk* spares_[kMaxSpareChunks] = {};
  std::size_t spareCount_ = 0;
};

}  // namespace halvix::modules::zsocket
