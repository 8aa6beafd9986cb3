#pragma once
// Inside the engine stand-in: the messenger socket and its clients, served on
// an I/O thread of their own. Nothing here touches channel state: what
// arrives is reported through Events on the I/O thread, and the engine hands
// it over to the platform thread.
#include <atomic>
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

#include "standins/flutter_engine/messenger_framing.h"
#include "standins/flutter_engine/messenger_endpoint.h"
#include "standins/flutter_engine/output_gate.h"

namespace halvix::flutter_engine {

class ClientSession;

// What the engine lets its clients make it hold, and for how long.
//
// A client's backlog is what the engine holds on its behalf: its requests
// from the moment they are read until the platform thread has answered (or
// let go of) them, and its replies and the host's messages until they are
// written. Each frame counts its bytes plus kFrameOverhead, so that a flood
// of tiny frames is bounded too. A frame in progress counts the length its
// prefix announces, from the moment it is let in.
//
// A frame is let in when its prefix has arrived and there is room for it:
// its client's backlog stays within clientBacklog and what all clients hold
// within totalBacklog. Until then the client is held back: it is not read
// from, so the calls it has not sent yet wait in its socket and its own
// writes block, and nothing is dropped. A client whose backlog is empty needs
// only that all together stay within ceiling(), so that a frame larger than
// its budget still gets through, and a client that reads its replies is
// served while others hold totalBacklog; when nothing else is held any frame
// gets through. A frame let in is always read to its end. A client held back,
// or at either bound, whose queued output has not moved for drainTimeout is
// dropped: it reads nothing, and would hold its share for good.
//
// Replies far larger than their requests and the host's own messages are
// not let in but made; a client may have at most kMaxFrameBody plus twice
// its budget of them queued, or it is dropped.
//
// The defaults: 16 MiB for a client, several calls of a MiB or two in flight
// at once; 64 MiB for all and 16 MiB more for clients that hold nothing, so
// that clients never make the engine hold more than 80 MiB (a frame of the
// largest size fits) and the host, whose allocator may keep as much again
// until releaseFreedHeap, stays well under 256 MiB however many clients there
// are; a minute for a client that reads nothing, far beyond any pause of a
// live Dart side.
struct MessengerLimits {
  // A client that has begun a frame and sends nothing more of it for this
  // long is dropped: the largest frame crosses a local socket in well under a
  // second, so it has stalled, or holds the room on purpose.
  std::chrono::milliseconds frameTimeout{10000};
  size_t clientBacklog = size_t{16} << 20;
  size_t totalBacklog = size_t{64} << 20;
  std::chrono::milliseconds drainTimeout{60000};

  size_t ceiling() const { return totalBacklog + clientBacklog; }
};

// What a frame counts for: its bytes plus the bookkeeping around it.
inline constexpr size_t kFrameOverhead = 256;

struct ServerEvent {
  enum class Kind { kOpened, kFrame, kClosed };
  Kind kind;
  uint64_t session;
  Frame frame;      // kFrame only
  size_t cost = 0;  // kFrame only: what it counts for until settled
  // kFrame only: where its reply may be written from the answering thread.
  std::shared_ptr<OutputGate> gate = nullptr;
};

class MessengerServer {
 public:
  using Events = std::function<void(ServerEvent)>;

  // Accepting again at once after running out of descriptors would fail the
  // same way in a busy loop.
  static constexpr std::chrono::milliseconds kAcceptRetryDelay{100};
  // Once kReleaseAfterBytes of what clients held has been let go of
  // (requests answered, output written, clients gone), the freed memory goes
  // back to the system (releaseFreedHeap), kReleaseDelay later: by then the
  // platform thread and the sessions that went have freed their share, and
  // a steady stream of large frames costs at most a release that often.
  // Requests are allocated on the I/O thread and replies on the platform
  // thread, so without it the allocator would keep the peak of each apart.
  static constexpr size_t kReleaseAfterBytes = size_t{16} << 20;
  static constexpr std::chrono::milliseconds kReleaseDelay{100};

  // Binds and listens at `path` (see MessengerEndpoint::open), then starts
  // the I/O thread. Null, with *error set to an errno value, when the socket
  // cannot be set up.
  static std::unique_ptr<MessengerServer> listen(const std::string& path, const MessengerLimits& limits,
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
  // The platform thread is done with requests of `session` that counted
  // `cost` (see ServerEvent), and answers with `reply` unless it is empty.
  // Every frame reported is settled exactly once, also after its client
  // has gone.
  void settle(uint64_t session, size_t cost, std::vector<uint8_t> reply = {});
  // settle() for a request reported with `gate`, from the thread that has
  // its reply: the reply is written to the client from that thread when
  // nothing is on its way to the I/O thread, and so reaches the client
  // without waiting for that thread to wake. What the request counted is
  // then parked in the gate, and the I/O thread is woken for it only when a
  // client waits for room.
  void answer(uint64_t session, const std::shared_ptr<OutputGate>& gate, size_t cost, std::vector<uint8_t> reply);

  // From client sessions, on the I/O thread.
  const MessengerLimits& limits() const { return limits_; }
  void onFrame(ClientSession& session, Frame& frame, size_t cost);
  void dropSession(uint64_t session);
  // A client now holds `after` bytes for its frame in progress instead of
  // `before`.
  void changePending(size_t before, size_t after);
  void addBacklog(size_t bytes);
  void removeBacklog(size_t bytes);
  // A client starts or stops waiting for room for its next frame.
  void countWaiting(bool waiting) { waiting ? ++waiting_ : --waiting_; }
  // Every client takes back what its answered requests parked in its gate.
  void takeParked();
  // What all clients together hold: backlogs and frames in progress.
  size_t total() const { return backlogBytes_ + pendingBytes_; }
  bool full() const { return total() >= limits_.totalBacklog; }

 private:
  MessengerServer(std::string path, const MessengerLimits& limits, Events events)
      : endpoint_(std::move(path)), limits_(limits), events_(std::move(events)) {}
  void accept();
  void acceptLater(const boost::system::error_code& error);
  void closeAll();
  // When room is given back, clients held back look again whether their
  // frame fits; when the total reaches totalBacklog, clients look whether
  // they are stuck. Later, from the I/O loop, so that no client's handler
  // runs inside another's.
  void noticeChange(size_t before);
  void releaseLater();

  boost::asio::io_context io_{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
  MessengerEndpoint::Acceptor acceptor_{io_};
  boost::asio::steady_timer acceptPause_{io_};
  boost::asio::steady_timer releaseTimer_{io_};
  MessengerEndpoint endpoint_;
  MessengerLimits limits_;
  Events events_;
  // Output handed to the I/O thread and not yet queued for its clients: a
  // reply written through a gate meanwhile could overtake it.
  std::atomic<size_t> postedOutput_{0};
  // I/O thread only, once it runs.
  std::map<uint64_t, std::shared_ptr<ClientSession>> sessions_;
  uint64_t nextSessionId_ = 1;
  size_t pendingBytes_ = 0;
  // Requests not yet settled, of clients present or gone, and output queued
  // for clients present.
  size_t backlogBytes_ = 0;
  // Written on the I/O thread; read by answering threads too.
  std::atomic<size_t> waiting_{0};
  bool flowPosted_ = false;
  size_t freedSinceRelease_ = 0;
  bool releaseSet_ = false;
  bool acceptFailing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace halvix::flutter_engine
