// halvixctl: plays the Dart side of a running host's messenger. Sends one
// method call over the messenger socket, waits for its reply and prints it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/flutter/method_result_functions.h"
#include "platform/flutter/standard_codec.h"
#include "standins/flutter_engine/messenger_client.h"
#include "tools/halvixctl/json_mapping.h"
#include "tools/json_text/json_text.h"

#ifdef _WIN32
#include "platform/text_win32.h"
#endif

namespace {

using flutter::EncodableValue;
using halvix::flutter_engine::MessengerClient;

enum Exit { kSuccess = 0, kUsage = 1, kErrorReply = 2, kNotImplemented = 3, kNoReply = 4 };

constexpr const char* kUsageText =
    "usage: halvixctl [--socket PATH] [--timeout SECONDS] [--raw] CHANNEL METHOD [ARGS]\n"
    "  ARGS is JSON: objects are maps, arrays lists, integers int32 when they fit\n"
    "  (else int64), and \"hex:0a0b...\" a Uint8List. Replies print the same way.\n"
    "  A reply's bytes that are not UTF-8 print as \\udcXX escapes, one a byte.\n"
    "  --raw prints the reply envelope as hexadecimal. The socket is by default\n"
    "  $XDG_RUNTIME_DIR/halvix-messenger.sock, else /tmp/halvix-<uid>/messenger.sock;\n"
    "  on Windows it is the file that holds the host's loopback port, by default\n"
    "  %LOCALAPPDATA%\\Halvix\\messenger.port. One served by another user is refused.\n"
    "  exit: 0 success, 2 error reply, 3 not implemented, 4 no reply in time,\n"
    "        1 usage or connection error\n";

struct Options {
  std::string socket = halvix::flutter_engine::defaultMessengerSocketPath();
  double timeoutSeconds = 10;
  bool raw = false;
  std::string channel;
  std::string method;
  std::unique_ptr<EncodableValue> arguments;
};

int usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "halvixctl: " << problem << "\n";
  std::cerr << kUsageText;
  return kUsage;
}

// Returns an exit code when parsing ends the run, -1 to go on.
int parse(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsageText;
      return kSuccess;
    }
    if (arg == "--raw") {
      options.raw = true;
    } else if (arg == "--socket" || arg == "--timeout") {
      if (i + 1 >= argc) return usage(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "--socket") {
        options.socket = value;
      } else {
        char* end = nullptr;
        double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
          return usage("bad --timeout value: " + value);
        options.timeoutSeconds = seconds;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return usage("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() < 2 || positional.size() > 3) return usage("");
  options.channel = positional[0];
  options.method = positional[1];
  if (options.channel.empty() || options.channel.size() > 0xffff) return usage("bad channel name");
  if (positional.size() == 3) {
    try {
      options.arguments =
          std::make_unique<EncodableValue>(halvix::ctl::jsonToValue(halvix::ctl::parseJson(positional[2])));
    } catch (const std::exception& e) {
      return usage(std::string("bad ARGS: ") + e.what());
    }
  }
  return -1;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

int run(int argc, char** argv) {
  Options options;
  if (int code = parse(argc, argv, options); code >= 0) return code;

  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  flutter::MethodCall<EncodableValue> call(options.method, std::move(options.arguments));
  auto message = codec.EncodeMethodCall(call);

  std::vector<uint8_t> reply;
  try {
    MessengerClient client(options.socket);
    uint32_t id = client.send(options.channel, *message);
    auto timeout = std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000));
    switch (client.waitReply(id, timeout, &reply)) {
      case MessengerClient::Outcome::kReply:
        break;
      case MessengerClient::Outcome::kTimeout:
        std::cerr << "halvixctl: no reply within " << options.timeoutSeconds << " s\n";
        return kNoReply;
      case MessengerClient::Outcome::kClosed:
        std::cerr << "halvixctl: connection closed before the reply\n";
        return kUsage;
    }
  } catch (const std::exception& e) {
    std::cerr << "halvixctl: " << e.what() << "\n";
    return kUsage;
  }

  if (options.raw) std::cout << hex(reply) << "\n";
  int exitCode = kUsage;
  flutter::MethodResultFunctions<EncodableValue> printer(
      [&](const EncodableValue* result) {
        if (!options.raw)
          std::cout << halvix::tools::jsonText(halvix::ctl::valueToJson(result ? *result : EncodableValue())) << "\n";
        exitCode = kSuccess;
      },
      [&](const std::string& code, const std::string& text, const EncodableValue* details) {
        if (!options.raw) {
          nlohmann::json error{{"code", code},
                               {"message", text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text)},
                               {"details", halvix::ctl::valueToJson(details ? *details : EncodableValue())}};
          std::cout << halvix::tools::jsonText(error) << "\n";
        }
        exitCode = kErrorReply;
      },
      [&] {
        if (!options.raw) std::cerr << "halvixctl: not implemented\n";
        exitCode = kNotImplemented;
      });
  if (!codec.DecodeAndProcessResponseEnvelope(reply.data(), reply.size(), &printer)) {
    std::cerr << "halvixctl: malformed reply envelope\n";
    return kUsage;
  }
  return exitCode;
}

}  // namespace

#ifdef _WIN32
// The arguments as the system holds them (UTF-16), in UTF-8 inside: the
// narrow ones would pass through the ANSI code page, which cannot spell every
// folder name.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(halvix::platform::narrow(wargv[i]));
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
