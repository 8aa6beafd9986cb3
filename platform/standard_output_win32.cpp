#include "platform/standard_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace halvix::platform {

void makeStandardOutputBinary() {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

bool standardOutputIsLiveTerminal() {
  if (!::_isatty(::_fileno(stdout))) return false;
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(out, &mode) &&
         ::SetConsoleMode(out, mode | ENABLE_PROCESSED_OUTPUT | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
}

}  // namespace halvix::platform
