#pragma once
// corvel-lua: runs Lua scripts and whole activations in states built exactly
// as the SDK worker builds them, for application developers, tests and
// benchmarks.
#include <string>
#include <vector>

namespace halvix::tools {

struct ScriptRun {
  std::string script;
  std::vector<std::string> args;
  std::string program = "corvel-lua";
  std::string bundle;  // normal mode: require and loadfile read from this bundle
};
// Returns the process exit status: 0 when the script ran to its end, 1 when
// it raised (the error and a traceback go to standard error).
int runScript(const ScriptRun& run);

struct ActivationRun {
  std::string appDir;  // hot-development mode: the application directory
  std::string bundle;  // or normal mode: the bundle file, of any name
  double seconds = 1.0;
  std::vector<std::string> callsHex;
};
// Returns 0 when initSDK succeeded, 1 when it failed, and 128 + the signal
// number when SIGINT or SIGTERM ended the run early.
int runActivation(const ActivationRun& run);

bool parseSeconds(const char* text, double& seconds);
bool parseHex(const std::string& text, std::string& bytes);
std::string toHex(const std::string& bytes);

}  // namespace halvix::tools
