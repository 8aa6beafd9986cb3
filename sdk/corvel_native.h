#pragma once
// The SDK core: one object through which the host starts, drives and stops
// the maker's Lua application. An activation runs on its own worker thread,
// which owns the Lua state and runs a Boost.Asio event loop; the platform
// thread hands work to it only by posting to that loop.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/thread/thread.hpp>
#include <msgpack.hpp>

#include "sdk/cpp_callback.h"
#include "sdk/corvel_native_impl.h"
#include "sdk/plate_call_args.h"
#include "sdk/result_report.h"

namespace halvix::sdk {

inline constexpr std::chrono::milliseconds kTickPeriod{17};
inline constexpr const char* kTickChunk = "require('preload').onTick()";
inline constexpr const char* kCheckAssetsFailed = "initSDK failed: checkAssets failed, App maybe incompleted.";
inline constexpr const char* kTickerAlreadyStarted = "initSDK failed : startLooper : ticker already started.";
inline constexpr const char* kNeedInitSdk = "initSDK failed : need call initSDK() firstly.";

// One host-to-Lua call. Owned by what still needs it: the task queued on the
// worker's loop and the Lua callback object's handler. It is released when
// both are gone (the callback object finalised, or the activation ended).
struct PendingCall {
  PlateCallArgsCallback argsCompletion;
  StringsCallback stringsCompletion;
  std::string packedCall;
  int id = 0;
};

// The directories the application directory resolves against: the process's
// current directory (normal mode, "./lsd") and the root of the drive
// (hot-development mode, the developer tree).
struct SdkDirectories {
  std::string currentDir = ".";
  std::string driveRoot = "/";
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
  // Ends the activation, if any: stops the tick and the loop, joins the
  // worker, then closes the Lua state.
  void unInitSDK();

  void startLooper(ResultCallback done);
  void stopLooper(ResultCallback done);

  // Carries a packed call into the application. The completion runs on the
  // worker thread once per answer, or never (no activation, failed call).
  void forwardPlateCall(StringsCallback done, std::string packedCall);
  void forwardPlateCall(PlateCallArgsCallback done, const msgpack::sbuffer& packedCall);

  bool checkAssets() const;
  std::string applicationRoot() const;

  bool ticking() const { return ticking_.load(); }
  // onTick calls made since the last initSDK.
  std::uint64_t tickCount() const { return tickCount_.load(); }
  // Calls whose records are still alive.
  std::size_t livePendingCalls();

 private:
  void queueCall(std::shared_ptr<PendingCall> record, StringsCallback handler);
  void workerMain(CorvelNativeImpl* engine, ResultCallback done, StateOptions options);
  void armTick();
  void onTick(const boost::system::error_code& error);
  void resetLoop();
  void sweepPendingCalls();

  SdkDirectories directories_;
  std::atomic<bool> ticking_{false};
  std::unique_ptr<boost::thread> worker_;
  std::unique_ptr<boost::asio::io_context> loop_;
  std::unique_ptr<boost::asio::steady_timer> tickTimer_;
  std::unique_ptr<CorvelNativeImpl> engine_;
  std::map<int, std::weak_ptr<PendingCall>> pendingCalls_;
  std::size_t sweepAt_ = 64;
  std::atomic<std::uint64_t> tickCount_{0};
};

}  // namespace halvix::sdk
