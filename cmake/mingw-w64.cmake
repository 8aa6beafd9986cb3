# Cross-builds for Windows x86-64 with Debian's mingw-w64 tool chain.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Third-party libraries come from scripts/windows-deps.sh, installed in
# HALVIX_WINDOWS_DEPS; zlib comes from libz-mingw-w64-dev.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVIX_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix flavour: its libstdc++ has std::thread, std::mutex and friends.
set(CMAKE_C_COMPILER ${HALVIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVIX_MINGW_TRIPLE}-windres)

set(HALVIX_WINDOWS_DEPS "${CMAKE_SOURCE_DIR}/build-windows/deps" CACHE PATH
  "Prefix holding the cross-built third-party libraries (scripts/windows-deps.sh)")
# try_compile projects read this file again with their own source folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVIX_WINDOWS_DEPS)
if(NOT IS_DIRECTORY "${HALVIX_WINDOWS_DEPS}")
  message(FATAL_ERROR "HALVIX_WINDOWS_DEPS (${HALVIX_WINDOWS_DEPS}) does not exist: "
    "run scripts/windows-deps.sh, or pass the prefix it built")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${HALVIX_MINGW_TRIPLE} "${HALVIX_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the Windows .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${HALVIX_WINDOWS_DEPS}/lib/pkgconfig:/usr/${HALVIX_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Fully static executables: libgcc, libstdc++ and winpthread (which the
# -posix libstdc++ needs) are linked in, so no mingw DLL has to sit beside
# an .exe, under Wine or on a user's machine. Only Windows' own DLLs remain.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# FindZLIB would otherwise pick the import library libz.dll.a.
set(ZLIB_USE_STATIC_LIBS ON)

# Lets ctest (and gtest_discover_tests) run the .exe files through Wine
# (scripts/wine.sh says how), in a prefix of this build tree's own.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh ${CMAKE_BINARY_DIR})
endif()
