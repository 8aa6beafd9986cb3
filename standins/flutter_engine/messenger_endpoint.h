#pragma once
// The server's end of the messenger socket, for the engine stand-in's I/O
// thread; implemented with the rest of the target's socket rules
// (messenger_socket_posix.cpp, messenger_socket_win32.cpp).
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/asio/basic_socket_acceptor.hpp>
#include <boost/asio/generic/stream_protocol.hpp>

namespace halvix::flutter_engine {

// The server's end at a path: binds and listens, tells whether an accepted
// client may be served, and removes what it left at the path when it goes,
// unless another host has taken the path over since.
class MessengerEndpoint {
 public:
  using Protocol = boost::asio::generic::stream_protocol;
  using Acceptor = boost::asio::basic_socket_acceptor<Protocol>;
  using Socket = Protocol::socket;

  explicit MessengerEndpoint(std::string path) : path_(std::move(path)) {}
  ~MessengerEndpoint();
  MessengerEndpoint(const MessengerEndpoint&) = delete;
  MessengerEndpoint& operator=(const MessengerEndpoint&) = delete;

  // Clears a stale endpoint left at the path, then binds `acceptor` and
  // listens. 0, or an errno value: EADDRINUSE when a live server of this
  // user answers there, EEXIST for any other file, ENAMETOOLONG for a path
  // that does not fit.
  int open(Acceptor& acceptor);
  // Readies an accepted client. One that runs as another user, or that has
  // already gone so that its user cannot be told (a probe that only
  // connects), is not served.
  enum class Admission { kServed, kAnotherUser, kGone };
  Admission admit(Socket& client) const;
  // From any thread, beside the I/O thread's own reads: writes what the
  // client's socket takes at once. The bytes written, 0 when it takes none
  // now, -1 on an error or where a client is written to only from the I/O
  // thread (Windows, whose sockets are served through a completion port).
  static std::ptrdiff_t writeWithoutWaiting(Socket::native_handle_type socket, const std::uint8_t* data,
                                            std::size_t size);

 private:
  std::string path_;
  bool bound_ = false;
  // What tells that the file at the path is still the one made here: its
  // device and inode number on POSIX systems, the port it names on Windows.
  std::uint64_t mark_[2] = {0, 0};
};

}  // namespace halvix::flutter_engine
