#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/corvel_lua/corvel_lua.h"

namespace halvix::tools {

bool parseHex(const std::string& text, std::string& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    char pair[3] = {text[i], text[i + 1], 0};
    char* end = nullptr;
    long value = std::strtol(pair, &end, 16);
    if (end != pair + 2 || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return false;
    bytes.push_back(static_cast<char>(value));
  }
  return true;
}

bool parseSeconds(const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && seconds >= 0 && seconds < 1e6;
}

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

}  // namespace halvix::tools

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: corvel-lua SCRIPT [ARG...]\n"
               "       corvel-lua --app DIR [--seconds S] [--call HEX]...\n"
               "       corvel-lua --bundle FILE [--seconds S] [--call HEX]...\n"
               "       corvel-lua --bundle FILE SCRIPT [ARG...]\n");
  return 1;
}

// The options of an activation, from argv[first] on.
bool parseActivation(int argc, char** argv, int first, halvix::tools::ActivationRun& run) {
  for (int i = first; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      if (!halvix::tools::parseSeconds(argv[++i], run.seconds)) return false;
    } else if (std::strcmp(argv[i], "--call") == 0 && i + 1 < argc) {
      run.callsHex.push_back(argv[++i]);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halvix::tools;
  if (argc < 2) return usage();
  const bool app = std::strcmp(argv[1], "--app") == 0;
  const bool bundle = std::strcmp(argv[1], "--bundle") == 0;
  if (app || bundle) {
    if (argc < 3) return usage();
    if (bundle && argc > 3 && std::strncmp(argv[3], "--", 2) != 0) {
      ScriptRun run;
      run.program = argv[0];
      run.bundle = argv[2];
      run.script = argv[3];
      for (int i = 4; i < argc; ++i) run.args.push_back(argv[i]);
      return runScript(run);
    }
    ActivationRun run;
    (app ? run.appDir : run.bundle) = argv[2];
    if (!parseActivation(argc, argv, 3, run)) return usage();
    return runActivation(run);
  }
  if (argv[1][0] == '-' && argv[1][1] != '\0') return usage();
  ScriptRun run;
  run.program = argv[0];
  run.script = argv[1];
  for (int i = 2; i < argc; ++i) run.args.push_back(argv[i]);
  return runScript(run);
}
