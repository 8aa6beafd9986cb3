#include "sdk/activation.h"

#include <exception>
#include <type_traits>
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "platform/thread_name.h"
#include "platform/thread_priority.h"
#include "sdk/sdk_log.h"

namespace halvix::sdk {

namespace {

std::atomic<int> g_abandonedWorkersRunning{0};

// Marks the worker as busy in one application entry point for as long as it
// runs there.
class BusyIn {
 public:
  BusyIn(std::atomic<const char*>& slot, const char* what) : slot_(slot) { slot_.store(what); }
  ~BusyIn() { slot_.store(nullptr); }
  BusyIn(const BusyIn&) = delete;
  BusyIn& operator=(const BusyIn&) = delete;

 private:
  std::atomic<const char*>& slot_;
};

template <typename Handle>
std::uintptr_t nativeHandleValue(Handle handle) {
  if constexpr (std::is_pointer_v<Handle>)
    return reinterpret_cast<std::uintptr_t>(handle);
  else
    return static_cast<std::uintptr_t>(handle);
}

}  // namespace

void StartReport::report(bool ok, std::string_view message) {
  ResultCallback done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reported_) return;
    reported_ = true;
    done = std::move(done_);
  }
  try {
    reportResult(std::move(done), ok, message);
  } catch (const std::exception& e) {
    sdkLog(kLuaPrintLevel, "initSDK: the completion raised: %s\n", e.what());
  } catch (...) {
    sdkLog(kLuaPrintLevel, "initSDK: the completion raised\n");
  }
}

Activation::Activation(int logLevel, std::chrono::steady_clock::time_point tickDeadline)
    : tickTimer_(loop_), lua_(logLevel), tickDeadline_(tickDeadline.time_since_epoch().count()) {
  tickTimer_.expires_at(tickDeadline);
}

Activation::~Activation() = default;

int Activation::abandonedWorkersRunning() { return g_abandonedWorkersRunning.load(); }

void Activation::start(ResultCallback done, StateOptions options) {
  startReport_ = std::make_shared<StartReport>(std::move(done));
  // The thread's own share is moved out of the stored functor as it starts,
  // so that the thread object inside this activation never keeps it alive.
  worker_ = std::make_unique<boost::thread>([self = shared_from_this(), options = std::move(options)]() mutable {
    std::shared_ptr<Activation> keep = std::move(self);
    // Named so that the application's share of the process shows apart.
    platform::nameCurrentThread("sdk-worker");
    keep->workerMain(std::move(options));
    Ending running = Ending::Running;
    if (!keep->ending_.compare_exchange_strong(running, Ending::Returned)) {
      sdkLog(kLuaPrintLevel, "SDK worker: an abandoned activation has finished\n");
      g_abandonedWorkersRunning.fetch_sub(1);
    }
  });
}

std::optional<std::string> Activation::startUp(const StateOptions& options) {
  try {
    std::optional<std::string> failure = lua_.prepareState(options);
    if (failure) return failure;
    BusyIn busy(busyIn_, "initLuaApp");
    return lua_.startApplication();
  } catch (const std::exception& e) {
    sdkLog(kLuaPrintLevel, "initSDK: start-up raised: %s\n", e.what());
    return std::string(kStartupRaised) + e.what();
  } catch (...) {
    sdkLog(kLuaPrintLevel, "initSDK: start-up raised\n");
    return std::string(kStartupRaised) + "unknown";
  }
}

void Activation::workerMain(StateOptions options) {
  std::optional<std::string> failure = startUp(options);
  if (!failure && interrupted_) failure = kStartupInterrupted;
  startReport_->report(!failure, failure ? *failure : std::string());
  if (failure) {
    workerFinished_ = true;
    return;
  }

  auto guard = boost::asio::make_work_guard(loop_);
  // A completion that throws must not end the activation: log it and go on.
  while (!loop_.stopped()) {
    try {
      loop_.run();
    } catch (const std::exception& e) {
      sdkLog(kLuaPrintLevel, "SDK worker: a task raised: %s\n", e.what());
    } catch (...) {
      sdkLog(kLuaPrintLevel, "SDK worker: a task raised\n");
    }
  }
  workerFinished_ = true;
}

bool Activation::end() {
  ticking_ = false;
  if (!worker_) return true;
  boost::asio::post(loop_, [this] { loop_.stop(); });
  if (!worker_->try_join_for(boost::chrono::milliseconds(kStopGrace.count()))) {
    interrupt();
    if (!worker_->try_join_for(boost::chrono::milliseconds(kInterruptGrace.count()))) {
      // Counted before the worker can see itself abandoned, so that its
      // return always finds the count to take itself off.
      g_abandonedWorkersRunning.fetch_add(1);
      Ending running = Ending::Running;
      if (!ending_.compare_exchange_strong(running, Ending::Abandoned)) {
        // It returned just now after all.
        g_abandonedWorkersRunning.fetch_sub(1);
        worker_->join();
        worker_.reset();
        return true;
      }
      // A worker spinning in compiled Lua would otherwise take a core from
      // the host for the rest of the process.
      const bool lowered = platform::lowerThreadToIdle(nativeHandleValue(worker_->native_handle()));
      const char* where = busyIn_.load();
      sdkLog(kLuaPrintLevel,
             "unInitSDK: the SDK worker did not stop within %lld ms (the Lua application did not return from "
             "%s, even when interrupted); the activation is abandoned and its worker left to finish on its own%s\n",
             static_cast<long long>((kStopGrace + kInterruptGrace).count()), where ? where : "a native call",
             lowered ? " at idle priority" : "");
      startReport_->report(false, kStartupInterrupted);
      worker_->detach();
      worker_.reset();
      return false;
    }
  }
  worker_.reset();
  return true;
}

void Activation::interrupt() {
  // Completions of calls that are still queued or running are dropped from
  // here on, the loop returns after the task in hand, and the Lua code in
  // hand raises at its next instruction or call. Code the JIT compiled may
  // not look at the hook; such a worker is abandoned.
  interrupted_ = true;
  loop_.stop();
  lua_.interrupt();
}

void Activation::startTicking() {
  ticking_ = true;
  if (workerFinished()) return;
  boost::asio::post(loop_, [this] { armTick(); });
}

void Activation::stopTicking() {
  ticking_ = false;
  if (workerFinished()) return;
  boost::asio::post(loop_, [this] { tickTimer_.cancel(); });
}

void Activation::armTick() {
  if (!ticking_) return;
  tickTimer_.async_wait([this](const boost::system::error_code& error) { onTick(error); });
}

void Activation::onTick(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  if (ticking_) {
    ++tickCount_;
    BusyIn busy(busyIn_, "onTick");
    lua_.doString(kTickChunk);
  }
  if (ticking_) {
    setTickDeadline(tickTimer_.expiry() + kTickPeriod);
    armTick();
  }
}

void Activation::setTickDeadline(std::chrono::steady_clock::time_point deadline) {
  tickTimer_.expires_at(deadline);
  tickDeadline_.store(deadline.time_since_epoch().count());
}

std::chrono::steady_clock::time_point Activation::tickDeadline() const {
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(tickDeadline_.load()));
}

void Activation::queueCall(std::shared_ptr<PendingCall> record, StringsCallback handler) {
  // The task lives in this activation's own loop, so it may hold `this`.
  boost::asio::post(loop_, [this, record = std::move(record), handler = std::move(handler)]() mutable {
    BusyIn busy(busyIn_, "forwardPlateCall");
    lua_.forwardPlateCall(CppCallback(std::move(handler), &interrupted_), record->packedCall);
  });
}

namespace {

// Asio's allocator for a reusable call's task: the call's own room.
template <typename T>
class TaskRoomAllocator {
 public:
  using value_type = T;
  explicit TaskRoomAllocator(ReusablePlateCall::TaskRoom& room) : room_(&room) {}
  template <typename U>
  TaskRoomAllocator(const TaskRoomAllocator<U>& other) noexcept : room_(other.room_) {}
  T* allocate(std::size_t n) const { return static_cast<T*>(room_->take(sizeof(T) * n)); }
  void deallocate(T* p, std::size_t) const { room_->give(p); }
  bool operator==(const TaskRoomAllocator& other) const noexcept { return room_ == other.room_; }
  bool operator!=(const TaskRoomAllocator& other) const noexcept { return room_ != other.room_; }

 private:
  template <typename>
  friend class TaskRoomAllocator;
  ReusablePlateCall::TaskRoom* room_;
};

}  // namespace

// Holds both holds of a hand-over until it runs, when the callback object
// takes its own; whatever it still holds is let go when it goes.
class Activation::ReusableCallTask {
 public:
  using allocator_type = TaskRoomAllocator<ReusableCallTask>;

  ReusableCallTask(Activation& activation, std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver)
      : activation_(&activation), call_(std::move(call)), handOver_(handOver) {}
  ReusableCallTask(ReusableCallTask&& other) noexcept
      : activation_(other.activation_),
        call_(std::move(other.call_)),
        handOver_(other.handOver_),
        callbackHold_(std::exchange(other.callbackHold_, false)) {}
  ReusableCallTask& operator=(ReusableCallTask&&) = delete;
  ~ReusableCallTask() {
    if (!call_) return;
    if (callbackHold_) call_->letGo(handOver_);
    call_->letGo(handOver_);
  }

  allocator_type get_allocator() const noexcept { return allocator_type(call_->taskRoom()); }

  void operator()() {
    callbackHold_ = false;
    BusyIn busy(activation_->busyIn_, "forwardPlateCall");
    activation_->lua_.forwardPlateCall(CppCallback(call_, handOver_, &activation_->interrupted_), call_->packedCall);
  }

 private:
  Activation* activation_;
  std::shared_ptr<ReusablePlateCall> call_;
  std::uint64_t handOver_;
  bool callbackHold_ = true;
};

void Activation::queueCall(std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver) {
  boost::asio::post(loop_, ReusableCallTask(*this, std::move(call), handOver));
}

}  // namespace halvix::sdk
