#include "modules/registration.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules {

// The order is the order in which the globals are set.
const luaL_Reg kZstrFunctions[] = {
    {"zpack", zstr::zpack},
    {"zunpack", zstr::zunpack},
    {"float2hex", zstr::float2hex},
    {"hex2float", zstr::hex2float},
    {"ztab2str", zstr::ztab2str},
    {"zcrc8", zstr::zcrc8},
    {"zcrc16", zstr::zcrc16},
    {"zcrcA001", zstr::zcrcA001},
    {"zcrc32", zstr::zcrc32},
    {"zcrypt1", zstr::zcrypt1},
    {nullptr, nullptr},
};

}  // namespace halvix::modules
