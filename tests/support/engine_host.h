#pragma once
// The engine stand-in, loaded from beside the test executable, with a
// platform thread of its own and a messenger socket in a scratch folder: the
// host half of the messenger tests and benchmarks.
#include <future>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "platform/flutter/engine_api.h"
#include "standins/flutter_engine/asio_task_runner.h"
#include "standins/flutter_engine/stand_in_loader.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {

class EngineHost {
 public:
  EngineHost() : socketPath_((dir_.path() / "messenger.sock").string()) {
    standIn_.setPlatformTaskRunner(&runner_);
    FlutterDesktopEngineProperties properties{};
    engine_ = api().FlutterDesktopEngineCreate(&properties);
    listenError_ = standIn_.listen(engine_, socketPath_.c_str());
  }
  ~EngineHost() {
    if (engine_) destroyEngine();
    stopThread();
    standIn_.setPlatformTaskRunner(nullptr);
  }

  static const flutter::FlutterDesktopApi& api() { return flutter::EngineApi(); }

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
    onLoop([this] { api().FlutterDesktopEngineDestroy(engine_); });
    engine_ = nullptr;
  }
  // Every task the engine posted still runs, so none is left unfreed.
  void stopThread() {
    work_.reset();
    if (thread_.joinable())
      thread_.join();
    else
      loop_.run();
  }

  FlutterDesktopEngineRef engine() const { return engine_; }
  FlutterDesktopMessengerRef messenger() const { return api().FlutterDesktopEngineGetMessenger(engine_); }
  const flutter_engine::StandIn& standIn() const { return standIn_; }
  const std::string& socketPath() const { return socketPath_; }
  int listenError() const { return listenError_; }
  const TempDir& dir() const { return dir_; }
  std::thread::id loopThreadId() const { return thread_.get_id(); }

 private:
  TempDir dir_;
  std::string socketPath_;
  flutter_engine::StandIn standIn_;
  boost::asio::io_context loop_{1};
  HalvixFlutterTaskRunner runner_ = flutter_engine::asioTaskRunner(loop_);
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{loop_.get_executor()};
  FlutterDesktopEngineRef engine_ = nullptr;
  int listenError_ = 0;
  std::thread thread_;
};

}  // namespace halvix::test
