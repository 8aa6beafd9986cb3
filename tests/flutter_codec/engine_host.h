#pragma once
// An engine stand-in on its own platform thread, serving a socket in a
// scratch folder: the host half of the messenger tests.
#include <future>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "platform/flutter_engine/engine_loop.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {

class EngineHost {
 public:
  EngineHost() : socketPath_((dir_.path() / "messenger.sock").string()) {
    FlutterDesktopEngineProperties properties{};
    engine_ = HalvixFlutterEngineCreateOnLoop(&properties, &loop_);
    listenError_ = HalvixFlutterEngineListen(engine_, socketPath_.c_str());
  }
  ~EngineHost() {
    if (engine_) destroyEngine();
    stopThread();
  }

  // Starts the platform thread; set up handlers before, or through onLoop().
  void start() {
    thread_ = std::thread([this] { loop_.run(); });
  }
  // Runs `fn` on the platform thread and waits for it.
  template <typename F>
  void onLoop(F fn) {
    if (!thread_.joinable()) {
      fn();
      return;
    }
    std::promise<void> done;
    boost::asio::post(loop_, [&] {
      fn();
      done.set_value();
    });
    done.get_future().wait();
  }
  void destroyEngine() {
    onLoop([this] { FlutterDesktopEngineDestroy(engine_); });
    engine_ = nullptr;
  }
  void stopThread() {
    work_.reset();
    loop_.stop();
    if (thread_.joinable()) thread_.join();
  }

  FlutterDesktopEngineRef engine() const { return engine_; }
  FlutterDesktopMessengerRef messenger() const { return FlutterDesktopEngineGetMessenger(engine_); }
  const std::string& socketPath() const { return socketPath_; }
  int listenError() const { return listenError_; }
  const TempDir& dir() const { return dir_; }
  std::thread::id loopThreadId() const { return thread_.get_id(); }

 private:
  TempDir dir_;
  std::string socketPath_;
  boost::asio::io_context loop_{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{loop_.get_executor()};
  FlutterDesktopEngineRef engine_ = nullptr;
  int listenError_ = 0;
  std::thread thread_;
};

}  // namespace halvix::test
