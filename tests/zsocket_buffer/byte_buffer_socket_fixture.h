#pragma once
// The byte buffer's socket tests' fixture: zsocket as z, the loopback
// helpers, and a non-blocking socket pair whose descriptors the chunks see
// as fdA and fdB, and the system's text for a descriptor that is no socket
// as notsocket.
#include "platform/socket_io.h"
#include "tests/support/lua_loopback.h"
#include "tests/support/socket_pair.h"
#include "tests/support/zsocket_lua_fixture.h"

namespace halvix::test {

class ByteBufferSocket : public ZsocketLuaFixture {
 protected:
  void SetUp() override {
    ZsocketLuaFixture::SetUp();
    ASSERT_LUA(kLuaLoopbackHelpers);
    ASSERT_TRUE(pair_.ok());
    lua_pushinteger(L(), pair_.a());
    lua_setglobal(L(), "fdA");
    lua_pushinteger(L(), pair_.b());
    lua_setglobal(L(), "fdB");
    lua_pushstring(L(), notASocketText().c_str());
    lua_setglobal(L(), "notsocket");
  }
  void TearDown() override {
    platform::setTransferShaper(nullptr);
    ZsocketLuaFixture::TearDown();
  }

  SocketPair pair_;
};

}  // namespace halvix::test
