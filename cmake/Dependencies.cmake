# Every third-party piece comes from Debian packages (scripts/setup.sh).

find_package(PkgConfig REQUIRED)
pkg_check_modules(LUAJIT REQUIRED IMPORTED_TARGET luajit)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS thread chrono)
find_package(msgpack REQUIRED CONFIG NAMES msgpack msgpackc-cxx)
find_package(GTest REQUIRED)
find_package(nlohmann_json REQUIRED)

# Debian's Lua 5.1 library modules as static archives, linked against LuaJIT.
# They are built against the Lua 5.1 API, which LuaJIT provides; PUC Lua's
# liblua5.1.so must never be pulled in beside LuaJIT.
function(halvix_lua_archive var name)
  find_library(${var} NAMES liblua5.1-${name}.a REQUIRED)
endfunction()
halvix_lua_archive(LUA_CJSON_LIB cjson)
halvix_lua_archive(LUA_LPEG_LIB lpeg)
halvix_lua_archive(LUA_LFS_LIB filesystem)
halvix_lua_archive(LUA_SOCKET_LIB socket)
halvix_lua_archive(LUA_MIME_LIB mime)
if(WIN32)
  # Debian's archive no longer serves the sources of the md5 and LuaSQL
  # versions the Linux build uses; the SDK links our own (modules/md5,
  # modules/luasql_sqlite3).
  set(LUA_SQLITE3_LIB)
  set(LUA_MD5_LIB)
  set(HALVIX_SYSTEM_LIBS ws2_32 iphlpapi)
  # LuaSocket's Lua halves, where LuaJIT looks on Windows: lua/ beside the
  # executable.
  file(COPY "${HALVIX_WINDOWS_DEPS}/share/lua/5.1/" DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/lua")
else()
  halvix_lua_archive(LUA_SQLITE3_LIB sql-sqlite3)
  # md5's archive carries its own copy of luaL_setfuncs, which would clash
  # with LuaSQL's; its shared library keeps that copy to itself.
  find_library(LUA_MD5_LIB NAMES liblua5.1-md5.so REQUIRED)
  set(HALVIX_SYSTEM_LIBS m)
endif()

# No include directory of their own: everything compiles against LuaJIT's
# headers (PkgConfig::LUAJIT), so that PUC Lua's headers, if installed, can
# never change what the host is built against.
add_library(halvix_lua_deps INTERFACE)
target_link_libraries(halvix_lua_deps INTERFACE
  ${LUA_CJSON_LIB} ${LUA_LPEG_LIB} ${LUA_LFS_LIB} ${LUA_SOCKET_LIB} ${LUA_MIME_LIB}
  ${LUA_SQLITE3_LIB} ${LUA_MD5_LIB} SQLite::SQLite3 PkgConfig::LUAJIT ${HALVIX_SYSTEM_LIBS})

# lua-MessagePack is compiled into the executable from the installed package
# (a file of the build machine's, also in a cross build).
find_file(HALVIX_MESSAGEPACK_LUA MessagePack.lua PATHS /usr/share/lua/5.1 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
