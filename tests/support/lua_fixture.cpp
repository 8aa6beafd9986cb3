#include "tests/support/lua_fixture.h"

namespace halvix::test {

const char* const kLuaTestHelpers = R"LUA(
function hex(s)
  return (s:gsub('.', function(c) return string.format('%02x', c:byte()) end))
end
function unhex(h)
  h = h:gsub('%s', '')
  assert(#h % 2 == 0, 'odd hex length')
  return (h:gsub('..', function(x) return string.char(tonumber(x, 16)) end))
end
function checkerror(msg, f, ...)
  local ok, err = pcall(f, ...)
  if ok then error('expected an error containing "' .. msg .. '", got success', 2) end
  if not string.find(tostring(err), msg, 1, true) then
    error('expected an error containing "' .. msg .. '", got "' .. tostring(err) .. '"', 2)
  end
end
function eq(a, b, what)
  if a ~= b then
    error((what or 'value') .. ': expected ' .. tostring(b) .. ', got ' .. tostring(a), 2)
  end
end
function deepeq(a, b)
  if type(a) ~= 'table' or type(b) ~= 'table' then
    return a == b or (a ~= a and b ~= b)
  end
  for k, v in pairs(a) do if not deepeq(v, b[k]) then return false end end
  for k in pairs(b) do if a[k] == nil then return false end end
  return true
end
)LUA";

std::unique_ptr<sdk::CorvelNativeImpl> makeHostState(std::string* failure, int logLevel) {
  auto lua = std::make_unique<sdk::CorvelNativeImpl>(logLevel);
  sdk::StateOptions options;
  options.hotDev = false;
  options.installLoader = false;
  if (auto why = lua->prepareState(options)) {
    if (failure) *failure = *why;
    return nullptr;
  }
  return lua;
}

void LuaFixture::SetUp() {
  std::string failure;
  lua_ = makeHostState(&failure);
  ASSERT_TRUE(lua_) << failure;
  ASSERT_TRUE(lua_->doString(kLuaTestHelpers));
}

void LuaFixture::TearDown() { lua_.reset(); }

std::string LuaFixture::run(const std::string& code) {
  lua_State* state = L();
  int top = lua_gettop(state);
  lua_getglobal(state, "debug");
  lua_getfield(state, -1, "traceback");
  lua_remove(state, -2);
  int handler = lua_gettop(state);
  std::string result;
  if (luaL_loadbuffer(state, code.data(), code.size(), "=test") != 0 || lua_pcall(state, 0, 0, handler) != 0) {
    const char* message = lua_tostring(state, -1);
    result = message ? message : "(non-string error)";
    if (result.empty()) result = "(empty error)";
  }
  lua_settop(state, top);
  return result;
}

std::string LuaFixture::eval(const std::string& expression) {
  lua_State* state = L();
  int top = lua_gettop(state);
  std::string code = "return tostring(" + expression + ")";
  std::string result;
  if (luaL_loadstring(state, code.c_str()) != 0 || lua_pcall(state, 0, 1, 0) != 0) {
    result = std::string("error: ") + (lua_tostring(state, -1) ? lua_tostring(state, -1) : "?");
  } else {
    result = lua_tostring(state, -1);
  }
  lua_settop(state, top);
  return result;
}

}  // namespace halvix::test
