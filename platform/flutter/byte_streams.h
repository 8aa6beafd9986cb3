#pragma once
// Byte streams under the standard codec. The reader checks every read against
// the end of its input and throws CodecError instead of reading past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace flutter {

class CodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteBufferStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  size_t position() const { return position_; }
  size_t remaining() const { return size_ - position_; }

  uint8_t ReadByte() {
    need(1);
    return bytes_[position_++];
  }

  void ReadBytes(uint8_t* out, size_t count) {
    need(count);
    if (count) std::memcpy(out, bytes_ + position_, count);
    position_ += count;
  }

  // Skips the zero padding that brings the position, counted from the start
  // of the message, to a multiple of `alignment`.
  void ReadAlignment(size_t alignment) {
    size_t mod = position_ % alignment;
    if (mod) ReadBytesSkip(alignment - mod);
  }

  void ReadBytesSkip(size_t count) {
    need(count);
    position_ += count;
  }

 private:
  void need(size_t count) const {
    if (count > size_ - position_) throw CodecError("message ends early");
  }

  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

class ByteBufferStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

  void WriteByte(uint8_t byte) { buffer_->push_back(byte); }
  void WriteBytes(const uint8_t* bytes, size_t count) {
    if (count) buffer_->insert(buffer_->end(), bytes, bytes + count);
  }
  void WriteAlignment(size_t alignment) {
    size_t mod = buffer_->size() % alignment;
    if (mod) buffer_->insert(buffer_->end(), alignment - mod, uint8_t{0});
  }

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter
