#include "modules/zsocket/linked_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform/socket_io.h"

namespace halvix::modules::zsocket {
namespace {

void printWriteError(const char* where, int fd, const platform::SocketOutcome& failure) {
  std::printf("%s: write error on fd %d: %s", where, fd, failure.errorText());
  std::fflush(stdout);
}

// A transfer that moved nothing, as the queue reports it.
LinkedBuffer::Outcome failed(const platform::SocketOutcome& o) {
  switch (o.status) {
    case platform::SocketStatus::WouldBlock: return {LinkedBuffer::Status::Pending};
    case platform::SocketStatus::Closed: return {LinkedBuffer::Status::Closed};
    default: return {LinkedBuffer::Status::Error, 0, o.error};
  }
}

}  // namespace

void LinkedBuffer::swap(LinkedBuffer& other) noexcept {
  std::swap(head_, other.head_);
  std::swap(tail_, other.tail_);
  std::swap(chunkSize_, other.chunkSize_);
  std::swap(length_, other.length_);
  // Kept chunks have this queue's chunk size, so they go with it.
  std::swap(spares_, other.spares_);
  std::swap(spareCount_, other.spareCount_);
}

std::size_t LinkedBuffer::chunkCount() const {
  std::size_t count = 0;
  for (const Chunk* c = head_; c; c = c->next) ++count;
  return count;
}

void LinkedBuffer::reset() noexcept {
  while (head_) {
    Chunk* next = head_->next;
    std::free(head_);
    head_ = next;
  }
  tail_ = nullptr;
  length_ = 0;
  while (spareCount_ > 0) std::free(spares_[--spareCount_]);
}

void LinkedBuffer::retire(Chunk* chunk) noexcept {
  if (chunkSize_ != 0 && spareCount_ < kMaxSpareChunks && spareCount_ < kSpareBytes / chunkSize_) {
    spares_[spareCount_++] = chunk;
  } else {
    std::free(chunk);
  }
}

LinkedBuffer::Chunk* LinkedBuffer::takeChunk() noexcept {
  if (spareCount_ > 0) return spares_[--spareCount_];
  if (chunkSize_ > SIZE_MAX - sizeof(Chunk)) return nullptr;
  void* block = std::malloc(sizeof(Chunk) + chunkSize_);
  return block ? new (block) Chunk{nullptr, 0, 0} : nullptr;
}

LinkedBuffer::Chunk* LinkedBuffer::newTailChunk() noexcept {
  Chunk* chunk = takeChunk();
  if (!chunk) return nullptr;
  *chunk = Chunk{nullptr, 0, 0};
  if (tail_) {
    tail_->next = chunk;
  } else {
    head_ = chunk;
  }
  tail_ = chunk;
  return chunk;
}

bool LinkedBuffer::append(const char* bytes, std::size_t n) {
  while (n > 0) {
    if (!tail_ || tail_->end == chunkSize_) {
      if (!newTailChunk()) return false;
    }
    std::size_t take = std::min(n, chunkSize_ - tail_->end);
    std::memcpy(tail_->data() + tail_->end, bytes, take);
    tail_->end += take;
    length_ += take;
    bytes += take;
    n -= take;
  }
  return true;
}

void LinkedBuffer::dropHead() noexcept {
  Chunk* next = head_->next;
  length_ -= head_->queued();
  retire(head_);
  head_ = next;
  if (!head_) tail_ = nullptr;
}

void LinkedBuffer::consume(std::size_t n) noexcept {
  while (n != 0 && head_) {
    std::size_t queued = head_->queued();
    if (n < queued) {
      head_->start += n;
      length_ -= n;
      return;
    }
    dropHead();
    n -= queued;
  }
}

std::size_t LinkedBuffer::peek(char* dst, std::size_t n) const noexcept {
  std::size_t copied = 0;
  for (const Chunk* c = head_; c && copied < n; c = c->next) {
    std::size_t take = std::min(n - copied, c->queued());
    std::memcpy(dst + copied, c->data() + c->start, take);
    copied += take;
  }
  return copied;
}

const char* LinkedBuffer::contiguousFront(std::size_t n) const noexcept {
  if (!head_ || head_->queued() < n) return nullptr;
  return head_->data() + head_->start;
}

void LinkedBuffer::releaseWritten(std::size_t written) noexcept {
  while (written > 0) {
    if (!head_) {
      std::printf("%s: corruption detected: buffer queue empty, but written is %lu", "zlinkbuf_flush_available",
                  static_cast<unsigned long>(written));
      std::fflush(stdout);
      return;
    }
    std::size_t queued = head_->queued();
    if (queued > written) {
      head_->start += written;
      length_ -= written;
      return;
    }
    dropHead();
    written -= queued;
  }
}

LinkedBuffer::Outcome LinkedBuffer::flushAvailable(int fd) {
  platform::SendSlice slices[kFlushMaxChunks];
  std::size_t count = 0;
  std::size_t bytes = 0;
  std::size_t chunks = 0;
  for (Chunk* c = head_; c && chunks < kFlushMaxChunks && bytes < kFlushMaxBytes; c = c->next, ++chunks) {
    if (c->queued() > 0) slices[count++] = {c->data() + c->start, c->queued()};
    bytes += c->queued();
  }
  if (bytes == 0) return {Status::Done};

  // One gathered send per round: the kernel takes the chunks as one write.
  std::size_t written = 0;
  std::size_t first = 0;
  while (first < count) {
    const platform::SocketOutcome sent = platform::socketSendGather(fd, slices + first, count - first);
    if (!sent.done()) {
      if (written > 0) break;  // release what went out; the rest waits
      if (sent.status == platform::SocketStatus::Error) printWriteError("zlinkbuf_flush_available", fd, sent);
      return failed(sent);
    }
    written += sent.count;
    for (std::size_t moved = sent.count; moved > 0 && first < count;) {
      const std::size_t take = std::min(moved, slices[first].size);
      slices[first].data = static_cast<const char*>(slices[first].data) + take;
      slices[first].size -= take;
      moved -= take;
      if (slices[first].size == 0) ++first;
    }
  }
  releaseWritten(written);
  return {head_ ? Status::Pending : Status::Done, written};
}

LinkedBuffer::Outcome LinkedBuffer::write(int fd, const char* bytes, std::size_t n) {
  if (n == 0) return {Status::Done};
  std::size_t sent = 0;
  if (!head_) {
    const platform::SocketOutcome r = platform::socketSend(fd, bytes, n);
    if (r.done()) {
      sent = r.count;
    } else if (r.status != platform::SocketStatus::WouldBlock) {
      if (r.status == platform::SocketStatus::Error) printWriteError("zlinkbuf_write", fd, r);
      return failed(r);
    }
  }
  if (!append(bytes + sent, n - sent)) return {Status::Error, sent, ENOMEM};
  return {head_ ? Status::Pending : Status::Done, sent};
}

LinkedBuffer::Outcome LinkedBuffer::readFrom(int fd, long long limit) {
  std::size_t left = limit > 0 && static_cast<unsigned long long>(limit) < kReadMaxBytes
                         ? static_cast<std::size_t>(limit)
                         : kReadMaxBytes;
  std::size_t total = 0;
  for (;;) {
    if (!tail_ || tail_->end == chunkSize_) {
      if (!newTailChunk()) return {Status::Error, total, ENOMEM};
    }
    // One scattered read into the tail's room and, while more may come,
    // chunks taken ahead; only those that receive bytes join the queue, so
    // that it ends as chunk-by-chunk reads would leave it.
    Chunk* const first = tail_;
    platform::RecvSlice slices[kReadAheadChunks + 1];
    Chunk* ahead[kReadAheadChunks];
    std::size_t taken = 0;
    std::size_t room = std::min(chunkSize_ - first->end, left);
    slices[0] = {first->data() + first->end, room};
    while (taken < kReadAheadChunks && room < left && room < kReadAheadBytes) {
      Chunk* extra = takeChunk();
      if (!extra) break;
      const std::size_t size = std::min(chunkSize_, left - room);
      ahead[taken++] = extra;
      slices[taken] = {extra->data(), size};
      room += size;
    }
    const platform::SocketOutcome r = platform::socketRecvScatter(fd, slices, taken + 1);
    const std::size_t moved = r.done() ? r.count : 0;
    std::size_t rest = moved - std::min(moved, slices[0].size);
    first->end += moved - rest;
    std::size_t used = 0;
    while (rest > 0 && used < taken) {
      Chunk* chunk = ahead[used++];
      const std::size_t take = std::min(slices[used].size, rest);
      *chunk = Chunk{nullptr, take, 0};
      tail_->next = chunk;
      tail_ = chunk;
      rest -= take;
    }
    while (used < taken) retire(ahead[used++]);
    if (r.done()) {
      length_ += moved;
      total += moved;
      left -= moved;
      if (left == 0) return {Status::Done, total};
      continue;
    }
    if (r.status == platform::SocketStatus::WouldBlock && total > 0) return {Status::Done, total};
    Outcome o = failed(r);
    o.count = total;
    return o;
  }
}

}  // namespace halvix::modules::zsocket
