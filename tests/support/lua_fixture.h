#pragma once
// A Lua state built exactly as the SDK worker builds it (standard libraries,
// every registered module, the host's globals, print replaced), for tests
// that exercise the native modules through Lua.
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "sdk/corvel_native_impl.h"

namespace halvix::test {

// A Lua state built as the SDK worker builds it, without an application or
// bundle loader. Null when the build failed, with the reason in `failure`.
std::unique_ptr<sdk::CorvelNativeImpl> makeHostState(std::string* failure = nullptr, int logLevel = 10);

class LuaFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  lua_State* L() const { return lua_->state(); }

  // Runs a chunk. Returns the empty string on success, else the error text
  // with a traceback. The chunk sees the helpers of kLuaTestHelpers.
  std::string run(const std::string& code);
  // Evaluates one expression and returns tostring() of its value.
  std::string eval(const std::string& expression);

  std::unique_ptr<sdk::CorvelNativeImpl> lua_;
};

// Defined in every fixture state:
//   hex(s)             -> lower-case hexadecimal of the bytes of s
//   unhex(h)           -> bytes of a hexadecimal text (spaces ignored)
//   checkerror(msg, f, ...) -> asserts that f(...) raises an error containing msg (plain find)
//   eq(a, b, what)     -> asserts a == b, with both values in the message
//   deepeq(a, b)       -> structural equality of tables
extern const char* const kLuaTestHelpers;

}  // namespace halvix::test

#define EXPECT_LUA(code) EXPECT_EQ("", run(code))
#define ASSERT_LUA(code) ASSERT_EQ("", run(code))
