#pragma once
// What the stand-in asks of the system about itself: standin_module_posix.cpp
// (dladdr) here, standin_module_win32.cpp on Windows.
#include <filesystem>

namespace halvix::chroma::standin {

// The file this library was loaded from; empty when the system cannot tell.
std::filesystem::path ownFile();

// Called before the notification thread starts. Here nothing: unloading
// runs the static notifier's destructor, which stops and joins the thread.
// On Windows that destructor would run under the loader lock, which the
// exiting thread needs, so the library pins itself instead and stays loaded
// until the process ends.
void keepLoadedWhileThreadRuns();

}  // namespace halvix::chroma::standin
