#include "sdk/corvel_native.h"

#include <string>
#include <utility>

#include "platform/readable_file.h"
#include "sdk/activation.h"
#include "sdk/app_paths.h"
#include "sdk/globals.h"
#include "sdk/sdk_log.h"

namespace halvix::sdk {

namespace {

std::string withoutTrailingSlash(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// Decodes the answer as the completion of a packed call sees it; none when
// it is not MessagePack (logged).
bool decodeAnswer(std::string_view bytes, PlateCallArgs& args) {
  try {
    args.decode(bytes);
  } catch (const msgpack::unpack_error& e) {
    sdkLog(kLuaPrintLevel, "forwardPlateCall: answer is not MessagePack: %s\n", e.what());
    return false;
  }
  return true;
}

}  // namespace

void ReusablePlateCall::answer(std::uint64_t handOver, std::string_view bytes) {
  if (decoding_.test_and_set(std::memory_order_acquire)) {
    PlateCallArgs args;
    if (decodeAnswer(bytes, args)) answered(handOver, args);
    return;
  }
  struct Release {
    std::atomic_flag& flag;
    ~Release() { flag.clear(std::memory_order_release); }
  } release{decoding_};
  if (decodeAnswer(bytes, decoded_)) answered(handOver, decoded_);
}

void* ReusablePlateCall::TaskRoom::take(std::size_t size) {
  if (size <= sizeof room_ && !taken_.exchange(true, std::memory_order_acquire)) return room_;
  return ::operator new(size);
}

void ReusablePlateCall::TaskRoom::give(void* memory) {
  if (memory == room_)
    taken_.store(false, std::memory_order_release);
  else
    ::operator delete(memory);
}

int abandonedSdkWorkers() { return Activation::abandonedWorkersRunning(); }

CorvelNative::CorvelNative(SdkDirectories directories)
    : directories_(std::move(directories)), tickDeadline_(std::chrono::steady_clock::now() + kTickPeriod) {}

CorvelNative::~CorvelNative() { unInitSDK(); }

std::string CorvelNative::applicationRoot() const {
  if (hotDevMode())
    return withoutTrailingSlash(directories_.driveRoot) + "/" + kHotDevProjectDir + "/" + kHotDevClimb;
  return withoutTrailingSlash(directories_.currentDir) + "/" + kBundleFolder;
}

bool CorvelNative::checkAssets() const {
  return platform::isReadableFile(applicationRoot() + "/" + (hotDevMode() ? kEntryFile : kDefaultBundleName));
}

void CorvelNative::initSDK(ResultCallback done, int logLevel, std::string lsdName) {
  unInitSDK();
  if (const int stuck = abandonedSdkWorkers(); stuck > kMaxAbandonedWorkers) {
    reportResult(std::move(done), false,
                 std::string(kTooManyStuckWorkers) + " (" + std::to_string(stuck) + ", at most " +
                     std::to_string(kMaxAbandonedWorkers) + "); restart the application to start it again.");
    return;
  }
  if (lsdName.empty()) lsdName = kDefaultBundleName;
  if (!checkAssets()) {
    reportResult(std::move(done), false, kCheckAssetsFailed);
    return;
  }
  StateOptions options;
  options.hotDev = hotDevMode();
  options.root = applicationRoot();
  options.bundleName = std::move(lsdName);

  activation_ = std::make_shared<Activation>(logLevel, tickDeadline_);
  ++activationsStarted_;
  lastTickCount_ = 0;
  try {
    activation_->start(std::move(done), std::move(options));
  } catch (...) {
    activation_.reset();
    throw;
  }
}

void CorvelNative::unInitSDK() {
  if (!activation_) return;
  activation_->end();
  tickDeadline_ = activation_->tickDeadline();
  lastTickCount_ = activation_->tickCount();
  // Joined: the activation goes now, its Lua state closed and with it every
  // callback object and call record. Abandoned: its worker holds the rest.
  activation_.reset();
  pendingCalls_.clear();
}

bool CorvelNative::ticking() const { return activation_ && activation_->ticking(); }

std::uint64_t CorvelNative::tickCount() const { return activation_ ? activation_->tickCount() : lastTickCount_; }

void CorvelNative::startLooper(ResultCallback done) {
  if (ticking()) {
    reportResult(std::move(done), false, kTickerAlreadyStarted);
    return;
  }
  if (!activation_) {
    reportResult(std::move(done), false, kNeedInitSdk);
    return;
  }
  activation_->startTicking();
  reportResult(std::move(done), true, "");
}

void CorvelNative::stopLooper(ResultCallback done) {
  if (activation_) activation_->stopTicking();
  reportResult(std::move(done), true, "");
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
  activation_->queueCall(std::move(record), std::move(handler));
}

void CorvelNative::forwardPlateCall(StringsCallback done, std::string packedCall) {
  // A call into an activation whose worker has returned would never run: it
  // is dropped unanswered now rather than kept until the next initSDK.
  if (!activation_ || activation_->workerFinished()) return;
  auto record = std::make_shared<PendingCall>();
  record->stringsCompletion = std::move(done);
  record->packedCall = std::move(packedCall);
  StringsCallback handler = [record](const std::vector<std::string>& results) {
    if (record->stringsCompletion) record->stringsCompletion(results);
  };
  queueCall(record, std::move(handler));
}

void CorvelNative::forwardPlateCall(PlateCallArgsCallback done, const msgpack::sbuffer& packedCall) {
  if (!activation_ || activation_->workerFinished()) return;
  auto record = std::make_shared<PendingCall>();
  record->argsCompletion = std::move(done);
  record->packedCall.assign(packedCall.data(), packedCall.size());
  StringsCallback handler = [record](const std::vector<std::string>& results) {
    PlateCallArgs args;
    if (!decodeAnswer(results.empty() ? std::string_view() : std::string_view(results.front()), args)) return;
    if (record->argsCompletion) record->argsCompletion(args);
  };
  queueCall(record, std::move(handler));
}

void CorvelNative::forwardPlateCall(std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver) {
  if (!activation_ || activation_->workerFinished()) {
    call->letGo(handOver);
    call->letGo(handOver);
    return;
  }
  activation_->queueCall(std::move(call), handOver);
}

}  // namespace halvix::sdk
