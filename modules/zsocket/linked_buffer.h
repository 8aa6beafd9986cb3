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
  // A read fills the tail and chunks made ahead in one call: at most this
  // many, and no more once this much room is there (chunks that stay empty
  // are freed again, so large ones are not made in vain).
  static constexpr std::size_t kReadAheadChunks = 15;
  static constexpr std::size_t kReadAheadBytes = 65536;

  explicit LinkedBuffer(std::size_t chunkSize) : chunkSize_(chunkSize) {}
  ~LinkedBuffer() { reset(); }
  LinkedBuffer(const LinkedBuffer&) = delete;
  LinkedBuffer& operator=(const LinkedBuffer&) = delete;

  void swap(LinkedBuffer& other) noexcept;
  std::size_t length() const { return length_; }
  bool hasChunks() const { return head_ != nullptr; }
  std::size_t chunkSize() const { return chunkSize_; }
  std::size_t chunkCount() const;
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

  Chunk* newTailChunk() noexcept;
  // Frees the chunks after `last`, which becomes the tail.
  void releaseTailAfter(Chunk* last) noexcept;
  void releaseWritten(std::size_t written) noexcept;

  Chunk* head_ = nullptr;
  Chunk* tail_ = nullptr;
  std::size_t chunkSize_;
  std::size_t length_ = 0;  // sum of the chunks' queued bytes, kept for getlen
};

}  // namespace halvix::modules::zsocket
