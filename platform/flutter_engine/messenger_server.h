#pragma once
// Inside the engine stand-in: the messenger socket and its clients, served on
// an I/O thread of their own. Nothing here touches channel state: what
// arrives is reported through Events on the I/O thread, and the engine hands
// it over to the platform thread.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include "platform/flutter_engine/messenger_framing.h"

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

  // Binds and listens at `path`, then starts the I/O thread. Null, with
  // *error set to an errno value, when the socket cannot be set up.
  static std::unique_ptr<MessengerServer> listen(const std::string& path, Events events, int* error);
  // Closes the socket and every client, waits for the I/O thread and
  // removes the socket file; no event is reported after it returns.
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

 private:
  MessengerServer(std::string path, Events events) : path_(std::move(path)), events_(std::move(events)) {}
  int bindAndListen();
  void accept();
  void closeAll();

  boost::asio::io_context io_{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
  boost::asio::local::stream_protocol::acceptor acceptor_{io_};
  std::string path_;
  bool bound_ = false;
  Events events_;
  // I/O thread only, once it runs.
  std::map<uint64_t, std::shared_ptr<ClientSession>> sessions_;
  uint64_t nextSessionId_ = 1;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace halvix::flutter_engine
