#pragma once
// The CDR functions of the zsocket module table, for the module opener.
#include <lua.hpp>

namespace halvix::modules::zsocket {

// cdr_rd_table, cdr_rd_var, cdr_wr_table, cdr_wr_var, cdr_wr_packet,
// cdr_wr_packetva, cdr_rd_header; null-terminated.
extern const luaL_Reg kCdrFunctions[];

}  // namespace halvix::modules::zsocket
