#pragma once
// One activation of the SDK: the worker thread, its event loop and tick
// timer, and the Lua state of the application. The platform thread and the
// worker share it. Normally the platform thread ends it by stopping the loop
// and joining the worker. A worker stuck in the application's Lua code (an
// endless loop in onTick, say) must not freeze the platform thread, so ending
// waits a bounded time, interrupts the running Lua, waits again, and then
// lets go: the worker keeps its own share of everything it uses and frees it
// if it ever returns.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/thread/thread.hpp>

#include "sdk/callbacks.h"
#include "sdk/corvel_native.h"
#include "sdk/corvel_native_impl.h"
#include "sdk/plate_call_args.h"
#include "sdk/result_report.h"

namespace halvix::sdk {

inline constexpr std::chrono::milliseconds kTickPeriod{17};
inline constexpr const char* kTickChunk = "require('preload').onTick()";
// Ending an activation waits this long for the stop to reach the loop, and as
// long again after interrupting the Lua code the worker is running.
inline constexpr std::chrono::milliseconds kStopGrace{1000};
inline constexpr std::chrono::milliseconds kInterruptGrace{1000};
inline constexpr const char* kStartupInterrupted = "initSDK failed: the activation ended before the application started.";
inline constexpr const char* kStartupRaised = "initSDK failed: start-up raised an exception: ";

// One host-to-Lua call. Owned by what still needs it: the task queued on the
// worker's loop and the Lua callback object's handler. It is released when
// both are gone (the callback object finalised, or the activation ended).
struct PendingCall {
  PlateCallArgsCallback argsCompletion;
  StringsCallback stringsCompletion;
  std::string packedCall;
  int id = 0;
};

// The completion of initSDK, answered once by whichever thread gets there
// first: the worker when the start-up ends, or the platform thread when it
// ends an activation whose start-up never finished.
class StartReport {
 public:
  explicit StartReport(ResultCallback done) : done_(std::move(done)) {}
  // The first call reports; later calls do nothing.
  void report(bool ok, std::string_view message);

 private:
  std::mutex mutex_;
  ResultCallback done_;
  bool reported_ = false;
};

class Activation : public std::enable_shared_from_this<Activation> {
 public:
  Activation(int logLevel, std::chrono::steady_clock::time_point tickDeadline);
  ~Activation();
  Activation(const Activation&) = delete;
  Activation& operator=(const Activation&) = delete;

  // Starts the worker, which builds the state, starts the application,
  // reports through `done` and then runs the loop. Throws
  // boost::thread_resource_error when no thread can be created.
  void start(ResultCallback done, StateOptions options);
  // Stops the tick and the loop and waits for the worker, within bounds (see
  // above). Returns false when the worker had to be abandoned.
  bool end();

  // The tick; both reply at once on the platform thread and arm or cancel the
  // timer on the worker, as an Asio timer must not be used by two threads.
  void startTicking();
  void stopTicking();
  bool ticking() const { return ticking_.load(); }

  // Queues a call into the application's forwardPlateCall.
  void queueCall(std::shared_ptr<PendingCall> record, StringsCallback handler);
  // Queues hand-over `handOver` of a reusable call; the task lives in the
  // call's own room, so queueing allocates nothing.
  void queueCall(std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver);

  // The worker's body has returned (start-up failed, or the loop stopped):
  // nothing posted from now on would ever run.
  bool workerFinished() const { return workerFinished_.load(); }
  std::uint64_t tickCount() const { return tickCount_.load(); }
  // The next tick's deadline, to carry into the next activation. Valid after
  // end().
  std::chrono::steady_clock::time_point tickDeadline() const;

  // Workers abandoned by end() that have not returned yet, process-wide: a
  // tool that must exit with one still running leaves without running static
  // destructors.
  static int abandonedWorkersRunning();

 private:
  void workerMain(StateOptions options);
  std::optional<std::string> startUp(const StateOptions& options);
  void armTick();
  void onTick(const boost::system::error_code& error);
  void setTickDeadline(std::chrono::steady_clock::time_point deadline);
  void interrupt();

  class ReusableCallTask;

  boost::asio::io_context loop_;
  boost::asio::steady_timer tickTimer_;
  CorvelNativeImpl lua_;
  std::shared_ptr<StartReport> startReport_;
  std::unique_ptr<boost::thread> worker_;  // platform thread only

  std::atomic<bool> ticking_{false};
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> workerFinished_{false};
  // Who frees the activation when the worker is slow: whichever of the
  // worker (returning) and the platform thread (giving up) gets there first.
  enum class Ending { Running, Returned, Abandoned };
  std::atomic<Ending> ending_{Ending::Running};
  std::atomic<std::uint64_t> tickCount_{0};
  std::atomic<std::chrono::steady_clock::rep> tickDeadline_;
  // The application entry point the worker is in, named in the log when the
  // worker has to be abandoned.
  std::atomic<const char*> busyIn_{nullptr};
};

}  // namespace halvix::sdk
