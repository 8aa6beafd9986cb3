#pragma once
// The SDK core: one object through which the host starts, drives and stops
// the maker's Lua application. An activation runs on its own worker thread,
// which owns the Lua state and its event loop; the platform thread hands work
// to it only by posting to that loop. Every operation here is called on the
// platform thread.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/callbacks.h"
#include "sdk/plate_call_args.h"
#include "sdk/result_report.h"

namespace halvix::sdk {

inline constexpr const char* kCheckAssetsFailed = "initSDK failed: checkAssets failed, App maybe incompleted.";
inline constexpr const char* kTickerAlreadyStarted = "initSDK failed : startLooper : ticker already started.";
inline constexpr const char* kNeedInitSdk = "initSDK failed : need call initSDK() firstly.";
// Abandoned workers still running beyond which no new activation starts:
// each may hold a core (at idle priority) and all the memory of its state.
inline constexpr int kMaxAbandonedWorkers = 2;
inline constexpr const char* kTooManyStuckWorkers =
    "initSDK failed: workers of ended activations are still stuck in the Lua application";

// The directories the application directory resolves against: the process's
// current directory (normal mode, "./lsd") and the root of the drive
// (hot-development mode, the developer tree).
struct SdkDirectories {
  std::string currentDir = ".";
  std::string driveRoot = "/";
};

class Activation;
struct PendingCall;

// A forwarded call that its owner keeps and hands over again and again, so
// that a hand-over allocates nothing: the packed bytes, the completion and the
// room for the queued task all live in it. Each hand-over has two holders,
// its queued task and its Lua callback object; each lets go once (the task
// when it has run or is dropped unrun, the callback object when it is
// collected or was never made), unless its activation is abandoned. The
// owner rewrites packedCall only once a hand-over's task has read it: after
// its first answer, or once both holders have let go.
class ReusablePlateCall {
 public:
  ReusablePlateCall() = default;
  ReusablePlateCall(const ReusablePlateCall&) = delete;
  ReusablePlateCall& operator=(const ReusablePlateCall&) = delete;
  virtual ~ReusablePlateCall() = default;

  std::string packedCall;

  // Decodes an answer as the PlateCallArgs overload does and passes it on.
  // Worker thread.
  void answer(std::uint64_t handOver, std::string_view bytes);

  // Once per answer of the hand-over. Worker thread.
  virtual void answered(std::uint64_t handOver, PlateCallArgs& args) = 0;
  // One holder of the hand-over is gone; on whichever thread drops it.
  virtual void letGo(std::uint64_t handOver) = 0;

  // Room for the queued task: one hand-over's task at a time, as a hand-over
  // is queued only once the previous task has started.
  class TaskRoom {
   public:
    void* take(std::size_t size);
    void give(void* memory);

   private:
    alignas(std::max_align_t) unsigned char room_[128];
    std::atomic<bool> taken_{false};
  };
  TaskRoom& taskRoom() { return taskRoom_; }

 private:
  TaskRoom taskRoom_;
  // Answers are decoded into this one, whose zone and argument list keep
  // their memory from one answer to the next. Answers come from the worker
  // thread; should an abandoned worker answer at the same moment as its
  // successor, the second to arrive decodes into one of its own.
  PlateCallArgs decoded_;
  std::atomic_flag decoding_ = ATOMIC_FLAG_INIT;
};

class CorvelNative {
 public:
  explicit CorvelNative(SdkDirectories directories = {});
  ~CorvelNative();
  CorvelNative(const CorvelNative&) = delete;
  CorvelNative& operator=(const CorvelNative&) = delete;

  // Starts an activation; the outcome reaches `done` exactly once: at once
  // when the asset check fails, otherwise later from the worker thread.
  // Throws boost::thread_resource_error when no thread can be created.
  void initSDK(ResultCallback done, int logLevel, std::string lsdName);
  // Ends the activation, if any: stops the tick and the loop and waits a
  // bounded time for the worker. A worker still busy in Lua after that is
  // left to finish on its own with everything it uses (see activation.h).
  void unInitSDK();

  void startLooper(ResultCallback done);
  void stopLooper(ResultCallback done);

  // Carries a packed call into the application. The completion runs on the
  // worker thread once per answer, or never (no activation, failed call).
  void forwardPlateCall(StringsCallback done, std::string packedCall);
  void forwardPlateCall(PlateCallArgsCallback done, const msgpack::sbuffer& packedCall);
  // Hands `call` over as hand-over number `handOver`, with its packedCall.
  // Without an activation both holders let go at once.
  void forwardPlateCall(std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver);

  bool checkAssets() const;
  std::string applicationRoot() const;

  // Activations started so far: a change tells that calls queued before
  // it will never run (their activation ended, or was abandoned).
  std::uint64_t activationsStarted() const { return activationsStarted_; }

  bool ticking() const;
  // onTick calls made since the last initSDK.
  std::uint64_t tickCount() const;
  // Calls whose records are still alive (reusable calls are their owners').
  std::size_t livePendingCalls();

 private:
  void queueCall(std::shared_ptr<PendingCall> record, StringsCallback handler);
  void sweepPendingCalls();

  SdkDirectories directories_;
  std::shared_ptr<Activation> activation_;
  // The tick schedule outlives activations: stopping does not reset it.
  std::chrono::steady_clock::time_point tickDeadline_;
  std::uint64_t lastTickCount_ = 0;
  std::uint64_t activationsStarted_ = 0;
  std::map<int, std::weak_ptr<PendingCall>> pendingCalls_;
  std::size_t sweepAt_ = 64;
};

// Workers of ended activations that are still stuck in Lua, process-wide. A
// process that exits with one still running must leave without running
// static destructors under it (fflush, then _exit).
int abandonedSdkWorkers();

}  // namespace halvix::sdk
