// LuaSQL's SQLite 3 driver `luasql.sqlite3`: environment, connection and
// cursor objects with LuaSQL 2.6's behaviour, so that the Windows build
// answers as Debian's driver does in the Linux build. Misuse raises (wrong
// object, closed object); database failures return (nil, "LuaSQL: " ..
// SQLite's message).
#include <cstring>
#include <memory>

#include <lua.hpp>
#include <sqlite3.h>

namespace halvix::modules {
namespace {

constexpr char kEnvironment[] = "SQLite3 environment";
constexpr char kConnection[] = "SQLite3 connection";
constexpr char kCursor[] = "SQLite3 cursor";

struct Environment {
  bool closed;
};

// Closed when db is null.
struct Connection {
  sqlite3* db;
  bool autoCommit;
  int openCursors;
};

// Closed when stmt is null. Holds a reference to its connection so that the
// connection outlives it; the column tables are made on first request.
struct Cursor {
  sqlite3_stmt* stmt;
  Connection* connection;
  int connectionRef;
  int namesRef;
  int typesRef;
};

struct Finalize {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

int failure(lua_State* L, sqlite3* db) {
  lua_pushnil(L);
  lua_pushfstring(L, "LuaSQL: %s", sqlite3_errmsg(db));
  return 2;
}

template <typename T>
T* newObject(lua_State* L, const char* type, const T& value) {
  auto* object = static_cast<T*>(lua_newuserdata(L, sizeof(T)));
  *object = value;
  luaL_getmetatable(L, type);
  lua_setmetatable(L, -2);
  return object;
}

Environment* checkEnvironment(lua_State* L) {
  auto* env = static_cast<Environment*>(luaL_checkudata(L, 1, kEnvironment));
  luaL_argcheck(L, !env->closed, 1, "LuaSQL: environment is closed");
  return env;
}

Connection* checkConnection(lua_State* L) {
  auto* conn = static_cast<Connection*>(luaL_checkudata(L, 1, kConnection));
  luaL_argcheck(L, conn->db != nullptr, 1, "LuaSQL: connection is closed");
  return conn;
}

Cursor* checkCursor(lua_State* L) {
  auto* cur = static_cast<Cursor*>(luaL_checkudata(L, 1, kCursor));
  luaL_argcheck(L, cur->stmt != nullptr, 1, "LuaSQL: cursor is closed");
  return cur;
}

int describe(lua_State* L, const char* type, bool closed) {
  if (closed)
    lua_pushfstring(L, "%s (closed)", type);
  else
    lua_pushfstring(L, "%s (%p)", type, lua_touserdata(L, 1));
  return 1;
}

// ---- environment

int createEnvironment(lua_State* L) {
  newObject(L, kEnvironment, Environment{false});
  return 1;
}

int environmentConnect(lua_State* L) {
  checkEnvironment(L);
  const char* path = luaL_checkstring(L, 2);
  sqlite3* db = nullptr;
  if (sqlite3_open(path, &db) != SQLITE_OK) {
    lua_pushnil(L);
    lua_pushfstring(L, "LuaSQL: %s", db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return 2;
  }
  // Lua's allocation may raise: the handle must already belong to the object.
  auto* conn = newObject(L, kConnection, Connection{nullptr, true, 0});
  conn->db = db;
  return 1;
}

int environmentClose(lua_State* L) {
  auto* env = static_cast<Environment*>(luaL_checkudata(L, 1, kEnvironment));
  lua_pushboolean(L, !env->closed);
  env->closed = true;
  return 1;
}

int environmentToString(lua_State* L) {
  auto* env = static_cast<Environment*>(luaL_checkudata(L, 1, kEnvironment));
  return describe(L, kEnvironment, env->closed);
}

// ---- cursor

void closeCursor(lua_State* L, Cursor* cur) {
  sqlite3_finalize(cur->stmt);
  cur->stmt = nullptr;
  cur->connection->openCursors--;
  for (int* ref : {&cur->connectionRef, &cur->namesRef, &cur->typesRef}) {
    luaL_unref(L, LUA_REGISTRYINDEX, *ref);
    *ref = LUA_NOREF;
  }
}

void pushColumn(lua_State* L, sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      lua_pushnumber(L, static_cast<lua_Number>(sqlite3_column_int64(stmt, column)));
      break;
    case SQLITE_FLOAT:
      lua_pushnumber(L, sqlite3_column_double(stmt, column));
      break;
    case SQLITE_TEXT:
      lua_pushlstring(L, reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                      sqlite3_column_bytes(stmt, column));
      break;
    case SQLITE_BLOB: {
      const void* blob = sqlite3_column_blob(stmt, column);
      lua_pushlstring(L, blob ? static_cast<const char*>(blob) : "", sqlite3_column_bytes(stmt, column));
      break;
    }
    default:
      lua_pushnil(L);
      break;
  }
}

int cursorFetch(lua_State* L) {
  Cursor* cur = checkCursor(L);
  sqlite3_stmt* stmt = cur->stmt;
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    closeCursor(L, cur);
    lua_pushnil(L);
    return 1;
  }
  if (rc != SQLITE_ROW) {
    failure(L, cur->connection->db);
    closeCursor(L, cur);
    return 2;
  }
  const int columns = sqlite3_column_count(stmt);
  if (lua_istable(L, 2)) {
    const char* mode = luaL_optstring(L, 3, "n");
    if (std::strchr(mode, 'n')) {
      for (int i = 0; i < columns; ++i) {
        pushColumn(L, stmt, i);
        lua_rawseti(L, 2, i + 1);
      }
    }
    if (std::strchr(mode, 'a')) {
      for (int i = 0; i < columns; ++i) {
        lua_pushstring(L, sqlite3_column_name(stmt, i));
        pushColumn(L, stmt, i);
        lua_rawset(L, 2);
      }
    }
    lua_pushvalue(L, 2);
    return 1;
  }
  luaL_checkstack(L, columns, "too many columns");
  for (int i = 0; i < columns; ++i) pushColumn(L, stmt, i);
  return columns;
}

// Column names or declared types, one table per cursor (a column without a
// declared type leaves a hole).
int columnTable(lua_State* L, int Cursor::*ref, const char* (*describeColumn)(sqlite3_stmt*, int)) {
  Cursor* cur = checkCursor(L);
  if (cur->*ref == LUA_NOREF) {
    const int columns = sqlite3_column_count(cur->stmt);
    lua_createtable(L, columns, 0);
    for (int i = 0; i < columns; ++i) {
      lua_pushstring(L, describeColumn(cur->stmt, i));
      lua_rawseti(L, -2, i + 1);
    }
    cur->*ref = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  lua_rawgeti(L, LUA_REGISTRYINDEX, cur->*ref);
  return 1;
}

int cursorColumnNames(lua_State* L) { return columnTable(L, &Cursor::namesRef, sqlite3_column_name); }
int cursorColumnTypes(lua_State* L) { return columnTable(L, &Cursor::typesRef, sqlite3_column_decltype); }

int cursorClose(lua_State* L) {
  auto* cur = static_cast<Cursor*>(luaL_checkudata(L, 1, kCursor));
  lua_pushboolean(L, cur->stmt != nullptr);
  if (cur->stmt) closeCursor(L, cur);
  return 1;
}

int cursorGc(lua_State* L) {
  auto* cur = static_cast<Cursor*>(luaL_checkudata(L, 1, kCursor));
  if (cur->stmt) closeCursor(L, cur);
  return 0;
}

int cursorToString(lua_State* L) {
  auto* cur = static_cast<Cursor*>(luaL_checkudata(L, 1, kCursor));
  return describe(L, kCursor, cur->stmt == nullptr);
}

// ---- connection

// The first step runs the statement, so that a failing one reports at once
// and a changing one changes; a statement with columns is then reset and
// read again through the cursor from its start.
int connectionExecute(lua_State* L) {
  Connection* conn = checkConnection(L);
  size_t length = 0;
  const char* sql = luaL_checklstring(L, 2, &length);
  sqlite3_stmt* raw = nullptr;
  const int prepared = sqlite3_prepare_v2(conn->db, sql, static_cast<int>(length), &raw, nullptr);
  Statement stmt(raw);
  if (prepared != SQLITE_OK || !stmt) return failure(L, conn->db);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failure(L, conn->db);
  if (sqlite3_column_count(stmt.get()) == 0) {
    lua_pushnumber(L, sqlite3_changes(conn->db));
    return 1;
  }
  sqlite3_reset(stmt.get());
  auto* cur = newObject(L, kCursor, Cursor{nullptr, conn, LUA_NOREF, LUA_NOREF, LUA_NOREF});
  lua_pushvalue(L, 1);
  cur->connectionRef = luaL_ref(L, LUA_REGISTRYINDEX);
  cur->stmt = stmt.release();
  conn->openCursors++;
  return 1;
}

bool run(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Without autocommit a transaction is always open: ending one begins the next.
int endTransaction(lua_State* L, const char* sql) {
  Connection* conn = checkConnection(L);
  if (!run(conn->db, sql)) return failure(L, conn->db);
  if (!conn->autoCommit) run(conn->db, "BEGIN");
  lua_pushboolean(L, 1);
  return 1;
}

int connectionCommit(lua_State* L) { return endTransaction(L, "COMMIT"); }
int connectionRollback(lua_State* L) { return endTransaction(L, "ROLLBACK"); }

// Turning autocommit on drops the open transaction.
int connectionSetAutoCommit(lua_State* L) {
  Connection* conn = checkConnection(L);
  conn->autoCommit = lua_toboolean(L, 2) != 0;
  if (conn->autoCommit)
    run(conn->db, "ROLLBACK");
  else if (!run(conn->db, "BEGIN"))
    return luaL_error(L, "LuaSQL: %s", sqlite3_errmsg(conn->db));
  lua_pushboolean(L, 1);
  return 1;
}

int connectionLastAutoId(lua_State* L) {
  Connection* conn = checkConnection(L);
  lua_pushnumber(L, static_cast<lua_Number>(sqlite3_last_insert_rowid(conn->db)));
  return 1;
}

// Needs no database: also answers on a closed connection.
int connectionEscape(lua_State* L) {
  luaL_checkudata(L, 1, kConnection);
  char* quoted = sqlite3_mprintf("%q", luaL_checkstring(L, 2));
  if (!quoted) return luaL_error(L, "LuaSQL: out of memory");
  lua_pushstring(L, quoted);
  sqlite3_free(quoted);
  return 1;
}

int connectionClose(lua_State* L) {
  auto* conn = static_cast<Connection*>(luaL_checkudata(L, 1, kConnection));
  if (!conn->db) {
    lua_pushboolean(L, 0);
    return 1;
  }
  if (conn->openCursors > 0) return luaL_error(L, "LuaSQL: there are open cursors");
  sqlite3_close(conn->db);
  conn->db = nullptr;
  lua_pushboolean(L, 1);
  return 1;
}

// When the state closes, cursors may be finalised after their connection:
// close_v2 keeps the handle until their statements are finalised.
int connectionGc(lua_State* L) {
  auto* conn = static_cast<Connection*>(luaL_checkudata(L, 1, kConnection));
  if (conn->db) sqlite3_close_v2(conn->db);
  conn->db = nullptr;
  return 0;
}

int connectionToString(lua_State* L) {
  auto* conn = static_cast<Connection*>(luaL_checkudata(L, 1, kConnection));
  return describe(L, kConnection, conn->db == nullptr);
}

const luaL_Reg kEnvironmentMethods[] = {
    {"__gc", environmentClose},
    {"__tostring", environmentToString},
    {"close", environmentClose},
    {"connect", environmentConnect},
    {nullptr, nullptr},
};
const luaL_Reg kConnectionMethods[] = {
    {"__gc", connectionGc},
    {"__tostring", connectionToString},
    {"close", connectionClose},
    {"commit", connectionCommit},
    {"escape", connectionEscape},
    {"execute", connectionExecute},
    {"getlastautoid", connectionLastAutoId},
    {"rollback", connectionRollback},
    {"setautocommit", connectionSetAutoCommit},
    {nullptr, nullptr},
};
const luaL_Reg kCursorMethods[] = {
    {"__gc", cursorGc},
    {"__tostring", cursorToString},
    {"close", cursorClose},
    {"fetch", cursorFetch},
    {"getcolnames", cursorColumnNames},
    {"getcoltypes", cursorColumnTypes},
    {nullptr, nullptr},
};

void createMetatable(lua_State* L, const char* type, const luaL_Reg* methods) {
  luaL_newmetatable(L, type);
  for (const luaL_Reg* m = methods; m->name; ++m) {
    lua_pushcfunction(L, m->func);
    lua_setfield(L, -2, m->name);
  }
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");
  lua_pushliteral(L, "LuaSQL: you're not allowed to get this metatable");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);
}

}  // namespace
}  // namespace halvix::modules

// LuaSQL's module table: {sqlite3 = environment factory, _VERSION, ...}.
extern "C" int luaopen_luasql_sqlite3(lua_State* L) {
  using namespace halvix::modules;
  createMetatable(L, kEnvironment, kEnvironmentMethods);
  createMetatable(L, kConnection, kConnectionMethods);
  createMetatable(L, kCursor, kCursorMethods);
  lua_newtable(L);
  lua_pushcfunction(L, createEnvironment);
  lua_setfield(L, -2, "sqlite3");
  lua_pushliteral(L, "Copyright (C) 2003-2020 Kepler Project");
  lua_setfield(L, -2, "_COPYRIGHT");
  lua_pushliteral(L, "LuaSQL is a simple interface from Lua to a DBMS");
  lua_setfield(L, -2, "_DESCRIPTION");
  lua_pushliteral(L, "LuaSQL 2.6.0 (for Lua 5.1)");
  lua_setfield(L, -2, "_VERSION");
  lua_pushliteral(L, SQLITE_VERSION);
  lua_setfield(L, -2, "_CLIENTVERSION");
  return 1;
}
