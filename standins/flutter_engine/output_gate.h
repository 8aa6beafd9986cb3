#pragma once
// Lets the thread that has a client's reply write it to the socket itself
// while the I/O thread has nothing queued or being written for that client:
// the reply then reaches the client without waiting for the I/O thread to
// wake. The I/O thread shuts the gate before it queues or writes anything,
// and opens it again once all it queued is out, so bytes never interleave.
// Only short frames go this way: a long one takes far longer to cross than
// the I/O thread takes to wake.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "standins/flutter_engine/messenger_endpoint.h"

namespace halvix::flutter_engine {

class OutputGate {
 public:
  explicit OutputGate(MessengerEndpoint::Socket::native_handle_type socket) : socket_(socket) {}
  OutputGate(const OutputGate&) = delete;
  OutputGate& operator=(const OutputGate&) = delete;

  static constexpr size_t kLargestFrame = 64 * 1024;

  enum class Outcome {
    // Nothing was written, and `frame` is left as it was: it goes through
    // the I/O thread.
    kRefused,
    kWritten,
    // Written in part; the frame is kept here for the I/O thread, which
    // takes it (shut) before anything else it writes.
    kPartly,
  };
  // Any thread.
  Outcome write(std::vector<uint8_t>& frame);
  // Any thread: a request that counted `cost` is answered, and the I/O
  // thread takes that back when it next looks (takeSettled). False once the
  // gate is closed: then it must be told at once.
  bool park(size_t cost);
  // I/O thread: what was parked since it last looked.
  size_t takeSettled();

  // What a partial write left: the frame, of which `written` bytes are out.
  struct Rest {
    std::vector<uint8_t> frame;
    size_t written = 0;
  };
  // I/O thread. Shuts the gate and hands over what a partial write left.
  Rest shut();
  // Once the client's queued output is all out.
  void open();
  // For good, before the socket closes: a write in progress finishes first.
  // What was parked and not yet taken.
  size_t close();

 private:
  std::mutex mutex_;
  MessengerEndpoint::Socket::native_handle_type socket_;
  bool open_ = true;
  bool closed_ = false;
  Rest rest_;
  size_t settled_ = 0;
};

}  // namespace halvix::flutter_engine
