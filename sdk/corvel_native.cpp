#include "sdk/corvel_native.h"

#include <cstdio>
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "sdk/globals.h"
#include "sdk/sdk_log.h"

namespace halvix::sdk {

namespace {

constexpr const char* kHotDevRoot =
    "/workspace/xcorvel/corvel/windowsProj/windows_lib_corvel/../../luaProj/project/corvelBase";

std::string withoutTrailingSlash(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

CorvelNative::CorvelNative(SdkDirectories directories)
    : directories_(std::move(directories)),
      loop_(std::make_unique<boost::asio::io_context>()),
      tickTimer_(std::make_unique<boost::asio::steady_timer>(*loop_)) {
  tickTimer_->expires_at(std::chrono::steady_clock::now() + kTickPeriod);
}

CorvelNative::~CorvelNative() { unInitSDK(); }

std::string CorvelNative::applicationRoot() const {
  if (hotDevMode()) return withoutTrailingSlash(directories_.driveRoot) + kHotDevRoot;
  return withoutTrailingSlash(directories_.currentDir) + "/lsd";
}

bool CorvelNative::checkAssets() const {
  std::string path = applicationRoot() + (hotDevMode() ? "/preload.lua" : "/ls.lsd");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

void CorvelNative::initSDK(ResultCallback done, int logLevel, std::string lsdName) {
  unInitSDK();
  if (lsdName.empty()) lsdName = "ls.lsd";
  if (!checkAssets()) {
    reportResult(std::move(done), false, kCheckAssetsFailed);
    return;
  }
  StateOptions options;
  options.hotDev = hotDevMode();
  options.root = applicationRoot();
  options.bundleName = std::move(lsdName);

  engine_ = std::make_unique<CorvelNativeImpl>(logLevel);
  tickCount_ = 0;
  try {
    worker_ = std::make_unique<boost::thread>(&CorvelNative::workerMain, this, engine_.get(), std::move(done),
                                              std::move(options));
  } catch (...) {
    engine_.reset();
    throw;
  }
}

void CorvelNative::workerMain(CorvelNativeImpl* engine, ResultCallback done, StateOptions options) {
  try {
    std::optional<std::string> failure = engine->prepareState(options);
    if (!failure) failure = engine->startApplication();
    if (failure) {
      reportResult(std::move(done), false, *failure);
      return;
    }
    reportResult(std::move(done), true, "");
  } catch (const std::exception& e) {
    sdkLog(kLuaPrintLevel, "initSDK: start-up raised: %s\n", e.what());
    return;
  }

  auto guard = boost::asio::make_work_guard(*loop_);
  // A completion that throws must not end the activation: log it and go on.
  while (!loop_->stopped()) {
    try {
      loop_->run();
    } catch (const std::exception& e) {
      sdkLog(kLuaPrintLevel, "SDK worker: a task raised: %s\n", e.what());
    } catch (...) {
      sdkLog(kLuaPrintLevel, "SDK worker: a task raised\n");
    }
  }
}

void CorvelNative::unInitSDK() {
  ticking_ = false;
  if (worker_) {
    boost::asio::post(*loop_, [loop = loop_.get()] { loop->stop(); });
    worker_->join();
    worker_.reset();
  }
  // The worker is gone: nothing else touches the engine, the loop or the timer.
  engine_.reset();
  pendingCalls_.clear();
  resetLoop();
}

void CorvelNative::resetLoop() {
  // Tasks of an ended activation must never reach the next one: they go with
  // the old loop. The tick schedule carries over, as stopping does not reset it.
  auto deadline = tickTimer_->expiry();
  tickTimer_.reset();
  loop_ = std::make_unique<boost::asio::io_context>();
  tickTimer_ = std::make_unique<boost::asio::steady_timer>(*loop_);
  tickTimer_->expires_at(deadline);
}

void CorvelNative::startLooper(ResultCallback done) {
  if (ticking_) {
    reportResult(std::move(done), false, kTickerAlreadyStarted);
    return;
  }
  if (!engine_) {
    reportResult(std::move(done), false, kNeedInitSdk);
    return;
  }
  ticking_ = true;
  // The timer is armed on the worker: an Asio timer must not be used from two
  // threads at once, and the tick handler re-arms it there.
  boost::asio::post(*loop_, [this] { armTick(); });
  reportResult(std::move(done), true, "");
}

void CorvelNative::stopLooper(ResultCallback done) {
  ticking_ = false;
  boost::asio::post(*loop_, [timer = tickTimer_.get()] { timer->cancel(); });
  reportResult(std::move(done), true, "");
}

void CorvelNative::armTick() {
  if (!ticking_) return;
  tickTimer_->async_wait([this](const boost::system::error_code& error) { onTick(error); });
}

void CorvelNative::onTick(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  if (ticking_) {
    ++tickCount_;
    engine_->doString(kTickChunk);
  }
  if (ticking_) {
    tickTimer_->expires_at(tickTimer_->expiry() + kTickPeriod);
    armTick();
  }
}

void CorvelNative::sweepPendingCalls() {
  if (pendingCalls_.size() < sweepAt_) return;
  std::erase_if(pendingCalls_, [](const auto& entry) { return entry.second.expired(); });
  sweepAt_ = std::max<std::size_t>(64, 2 * pendingCalls_.size());
}

std::size_t CorvelNative::livePendingCalls() {
  std::erase_if(pendingCalls_, [](const auto& entry) { return entry.second.expired(); });
  return pendingCalls_.size();
}

void CorvelNative::queueCall(std::shared_ptr<PendingCall> record, StringsCallback handler) {
  record->id = takeNextCallId();
  sweepPendingCalls();
  pendingCalls_[record->id] = record;
  boost::asio::post(*loop_, [engine = engine_.get(), record, handler = std::move(handler)]() mutable {
    engine->forwardPlateCall(std::move(handler), record->packedCall);
  });
}

void CorvelNative::forwardPlateCall(StringsCallback done, std::string packedCall) {
  if (!worker_ || !engine_) return;
  auto record = std::make_shared<PendingCall>();
  record->stringsCompletion = std::move(done);
  record->packedCall = std::move(packedCall);
  StringsCallback handler = [record](const std::vector<std::string>& results) {
    if (record->stringsCompletion) record->stringsCompletion(results);
  };
  queueCall(record, std::move(handler));
}

void CorvelNative::forwardPlateCall(PlateCallArgsCallback done, const msgpack::sbuffer& packedCall) {
  if (!worker_ || !engine_) return;
  auto record = std::make_shared<PendingCall>();
  record->argsCompletion = std::move(done);
  record->packedCall.assign(packedCall.data(), packedCall.size());
  StringsCallback handler = [record](const std::vector<std::string>& results) {
    PlateCallArgs args;
    try {
      args = PlateCallArgs::fromResults(results);
    } catch (const msgpack::unpack_error& e) {
      sdkLog(kLuaPrintLevel, "forwardPlateCall: answer is not MessagePack: %s\n", e.what());
      return;
    }
    if (record->argsCompletion) record->argsCompletion(args);
  };
  queueCall(record, std::move(handler));
}

}  // namespace halvix::sdk
