#include "platform/os_version.h"

#include <windows.h>

namespace halvix::platform {

namespace {

// The system's own check: major, minor and service-pack major each at least
// the values given. It answers for the version the process is shown, which
// the manifest's supported-systems list decides.
bool versionAtLeast(WORD major, WORD minor) {
  OSVERSIONINFOEXW wanted{};
  wanted.dwOSVersionInfoSize = sizeof wanted;
  wanted.dwMajorVersion = major;
  wanted.dwMinorVersion = minor;
  wanted.wServicePackMajor = 0;
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

}  // namespace

std::string osVersionText() {
  std::string version = "Windows ";
  if (versionAtLeast(10, 0)) {
    version += "10+";
  } else if (versionAtLeast(6, 2)) {
    version += "8";
  } else if (versionAtLeast(6, 1)) {
    version += "7";
  }
  return version;
}

}  // namespace halvix::platform
