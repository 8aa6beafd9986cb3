#pragma once
// corvel-lua's normal-mode runs, with an application bundle:
//   corvel-lua --bundle FILE [--seconds S] [--call HEX]...   an activation
//   corvel-lua --bundle FILE SCRIPT [ARG...]                  a script whose
//       require and loadfile read from FILE
// The application directory is FILE's folder; the bundle name is FILE's base
// name (the SDK's asset check still wants an "ls.lsd" in that folder).
namespace halvix::tools {

// argv[1] is "--bundle". Returns the process exit status.
int runBundle(int argc, char** argv);

}  // namespace halvix::tools
