#pragma once
// How an interface's sysfs folder (/sys/class/net/<name>) maps to the adapter
// types of the Windows adapter list. Part of the Linux adapter source, named
// here so that tests can point it at folders of their own.
#include <filesystem>

namespace halvix::platform {

// The ARPHRD number in `type`, with 1 (Ethernet) given as 6; an interface
// with a `wireless` or `phy80211` entry is wireless (71) whatever its number;
// every other number (772 for loopback, for one) stays as it is. 0 when the
// type cannot be read.
int adapterTypeFromSysfs(const std::filesystem::path& interfaceFolder);

}  // namespace halvix::platform
