#pragma once
// Where the SDK finds the maker's application. Normal mode reads the bundle
// from a folder below the process's current directory; hot-development mode
// reads the source tree at a fixed developer path below the drive root, which
// climbs out of the native project's folder with "../..". Tools and tests that
// lay out such a tree use these names rather than spelling the paths again.
namespace halvix::sdk {

// Normal mode, below the current directory.
inline constexpr const char* kBundleFolder = "lsd";
inline constexpr const char* kDefaultBundleName = "ls.lsd";

// Hot-development mode, below the drive root. The application directory is
// kHotDevProjectDir + "/" + kHotDevClimb; a POSIX path resolves ".." through
// the file system, so kHotDevProjectDir must exist for it to resolve.
inline constexpr const char* kHotDevProjectDir = "workspace/xcorvel/corvel/windowsProj/windows_lib_corvel";
inline constexpr const char* kHotDevClimb = "../../luaProj/project/corvelBase";
// Where that climb lands: the folder that holds the application's sources.
inline constexpr const char* kHotDevAppDir = "workspace/xcorvel/corvel/luaProj/project/corvelBase";
// VAR_LUA_LOGROOT: an absolute path ending in a separator.
inline constexpr const char* kHotDevLogRoot = "/workspace/xcorvel/corvel/luaProj/project/corvelBase/";

// The application's entry module as a file of the source tree.
inline constexpr const char* kEntryFile = "preload.lua";

}  // namespace halvix::sdk
