#pragma once
// Inside the engine stand-in: the messenger socket and its clients, served on
// an I/O thread of their own. Nothing here touches channel state: what
// arrives is reported through Events on the I/O thread, and the engine hands
// it over to the platform thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/flutter_engine/messenger_framing.h"
#include "platform/flutter_engine/messenger_endpoint.h"

namespace halvix::flutter_engine {

class ClientSession;

struct ServerEvent {
  enum class Kind { kOpened, kFrame, kClosed };
  Kind kind;
  uint64_t session;
  Frame frame;  // kFrame only
};

class MessengerServer {
 public:
  using Events = std::function<void(ServerEvent)>;

  // Bytes of incomplete frames held for all clients together. Room for two
  // frames of the largest size, so that one client sending such a frame
  // never shuts out another, while any number of clients together cannot
  // make the host hold more; a client whose partial frame would go beyond it
  // is dropped.
  static constexpr size_t kMaxPendingBytes = 2 * (size_t{kMaxFrameBody} + 4);
  // The largest frame crosses a local socket in well under a second: a
  // client that holds part of a frame and sends nothing for this long has
  // stalled, or holds the memory on purpose, and is dropped.
  static constexpr std::chrono::milliseconds kDefaultFrameTimeout{10000};
  // Accepting again at once after running out of descriptors would fail the
  // same way in a busy loop.
  static constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

  // Binds and listens at `path` (see MessengerEndpoint::open), then starts
  // the I/O thread. Null, with *error set to an errno value, when the socket
  // cannot be set up.
  static std::unique_ptr<MessengerServer> listen(const std::string& path, std::chrono::milliseconds frameTimeout,
                                                 Events events, int* error);
  // Closes the socket and every client, waits for the I/O thread and
  // removes what the endpoint left at the path; no event is reported after
  // it returns.
  ~MessengerServer();
  MessengerServer(const MessengerServer&) = delete;
  MessengerServer& operator=(const MessengerServer&) = delete;

  // Any thread: carried over to the I/O thread, where clients that have
  // gone meanwhile are skipped.
  void send(std::vector<uint64_t> sessions, std::vector<uint8_t> frame);
  void drop(uint64_t session);

  // From client sessions, on the I/O thread.
  void onFrame(ClientSession& session, Frame& frame);
  void dropSession(uint64_t session);
  // A client now holds `after` bytes of an incomplete frame instead of
  // `before`; false, and nothing changed, when that would take the total
  // above kMaxPendingBytes.
  bool holdPending(size_t before, size_t after);

 private:
  MessengerServer(std::string path, std::chrono::milliseconds frameTimeout, Events events)
      : endpoint_(std::move(path)), frameTimeout_(frameTimeout), events_(std::move(events)) {}
  void accept();
  void acceptLater(const boost::system::error_code& error);
  void closeAll();

  boost::asio::io_context io_{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
  MessengerEndpoint::Acceptor acceptor_{io_};
  boost::asio::steady_timer acceptPause_{io_};
  MessengerEndpoint endpoint_;
  std::chrono::milliseconds frameTimeout_;
  Events events_;
  // I/O thread only, once it runs.
  std::map<uint64_t, std::shared_ptr<ClientSession>> sessions_;
  uint64_t nextSessionId_ = 1;
  size_t pendingBytes_ = 0;
  bool acceptFailing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace halvix::flutter_engine
