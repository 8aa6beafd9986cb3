#pragma once
// The callback object handed to the Lua application's forwardPlateCall: a
// full userdata with the metatable "lua.cppcallback" that, when called from
// Lua with a byte string, passes that string to a native handler.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include <lua.hpp>

#include "sdk/callbacks.h"

namespace halvix::sdk {

class ReusablePlateCall;

// What a callback object answers into: a handler of its own, or one
// hand-over of a call its owner reuses, whose hold it lets go when it goes.
// Lives inside the userdata itself, so that making one allocates nothing
// outside the Lua heap.
struct CppCallback {
  CppCallback() = default;
  CppCallback(StringsCallback handler, const std::atomic<bool>* dropAnswers)
      : handler(std::move(handler)), dropAnswers(dropAnswers) {}
  CppCallback(std::shared_ptr<ReusablePlateCall> call, std::uint64_t handOver, const std::atomic<bool>* dropAnswers)
      : call(std::move(call)), handOver(handOver), dropAnswers(dropAnswers) {}
  CppCallback(CppCallback&& other) noexcept
      : handler(std::move(other.handler)),
        call(std::move(other.call)),
        handOver(other.handOver),
        dropAnswers(other.dropAnswers) {}
  CppCallback& operator=(CppCallback&&) = delete;
  ~CppCallback();

  // The bytes Lua passed (empty for nil): a reused call decodes them where
  // they lie, a handler gets them as its one result.
  void answer(std::string_view bytes);

  StringsCallback handler;
  std::shared_ptr<ReusablePlateCall> call;
  std::uint64_t handOver = 0;
  // Set once the activation is interrupted: answers are dropped from then on.
  const std::atomic<bool>* dropAnswers = nullptr;
};

inline constexpr const char* kCppCallbackMeta = "lua.cppcallback";

// Makes sure the registry holds the metatable (and the empty library of the
// same name); leaves the stack as it was. Must run in protected mode.
void ensureCppCallbackMetatable(lua_State* L);

// Pushes a new callback object that owns `callback`. Must run in protected
// mode (allocation may raise; `callback` is then left to its owner).
void pushCppCallback(lua_State* L, CppCallback&& callback);
void pushCppCallback(lua_State* L, StringsCallback handler);

}  // namespace halvix::sdk
