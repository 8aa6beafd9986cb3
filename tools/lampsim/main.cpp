// lampsim: simulated lamps on UDP. Listens where the lamp list says, checks
// every frame, shows the lamps' colours live and sums up at the end.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket_io.h"
#include "platform/sockets_startup.h"
#include "platform/standard_output.h"
#include "platform/termination.h"
#include "tools/json_text/json_text.h"
#include "tools/lampsim/lamp_board.h"
#include "tools/lampsim/lamp_listener.h"
#include "tools/lampsim/lamp_report.h"

namespace {

using namespace halvix::lampsim;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: lampsim --config FILE [--json] [--strip] [--stamps FILE] [--seconds N]\n"
    "  --config FILE  the lamp list (\"identifier address port [lf | wled LEDS [TIMEOUT]]\",\n"
    "                 \"broadcast identifier address port [...]\")\n"
    "  --json         one JSON object per frame on standard output, the summary last\n"
    "                 (identifier bytes that are not UTF-8 as \\udcXX escapes, one a byte)\n"
    "  --strip        show each WLED lamp's strip too, as blocks sampled along it\n"
    "  --stamps FILE  follow the Chroma stamps file; latency runs from the colour's stamp\n"
    "  --seconds N    stop after N seconds (else at SIGINT or SIGTERM)\n";

// Redraws of the live line are at least this far apart.
constexpr auto kRedraw = std::chrono::milliseconds(50);
// Datagrams taken from one socket before the others get their turn.
constexpr int kBurst = 256;
// Blocks a WLED strip is drawn with: enough to see a gradient, short enough
// for a few lamps on one line.
constexpr unsigned kStripBlocks = 30;

struct Options {
  std::string config;
  std::string stamps;
  bool json = false;
  bool strip = false;
  std::optional<double> seconds;
};

int usage(const std::string& problem) {
  std::cerr << "lampsim: " << problem << "\n" << kUsage;
  return 1;
}

// Returns an exit code when the arguments end the run, -1 to go on.
int parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--json") {
      options.json = true;
      continue;
    }
    if (arg == "--strip") {
      options.strip = true;
      continue;
    }
    if (arg != "--config" && arg != "--stamps" && arg != "--seconds") return usage("unknown argument " + arg);
    if (i + 1 >= argc) return usage(arg + " needs a value");
    std::string value = argv[++i];
    if (arg == "--config") {
      options.config = value;
    } else if (arg == "--stamps") {
      options.stamps = value;
    } else {
      char* end = nullptr;
      double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end || !std::isfinite(seconds) || seconds < 0 || seconds > 1e7)
        return usage("bad --seconds value " + value);
      options.seconds = seconds;
    }
  }
  if (options.config.empty()) return usage("--config is required");
  return -1;
}

class Simulator {
 public:
  Simulator(const Options& options, const LampConfig& config) : options_(options), board_(config) {
    if (!options.stamps.empty()) stamps_ = std::make_unique<StampFollower>(options.stamps);
    terminal_ = !options.json && halvix::platform::standardOutputIsLiveTerminal();
  }

  std::string open(const LampConfig& config) {
    if (std::string why = openEndpoints(config, endpoints_); !why.empty()) return why;
    std::string where;
    for (const auto& e : endpoints_) {
      where += where.empty() ? "" : ", ";
      where += addressText(e.address) + ":" + std::to_string(e.port) + " (";
      for (std::size_t i = 0; i < e.lampIds.size(); ++i) where += (i ? " " : "") + e.lampIds[i];
      where += ")";
    }
    std::cerr << "lampsim: listening on " << where << std::endl;
    return {};
  }

  void run() {
    std::vector<int> sockets;
    for (const auto& e : endpoints_) sockets.push_back(e.socket.fd());
    const auto start = Clock::now();
    for (;;) {
      auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kRedraw);
      if (options_.seconds) {
        auto left = start + std::chrono::duration<double>(*options_.seconds) - Clock::now();
        if (left <= left.zero()) break;
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left));
      }
      const auto seen = halvix::platform::waitForSocketsOrRequest(sockets, wait);
      if (seen.request) break;
      // A pending error is taken by the read.
      for (std::size_t i : seen.readable) drain(endpoints_[i]);
      show(false);
    }
    show(true);
    finish();
  }

 private:
  void drain(const Endpoint& endpoint) {
    std::string bytes(65536, '\0');
    for (int n = 0; n < kBurst; ++n) {
      sockaddr_in from{};
      auto outcome = halvix::platform::socketRecvFrom(endpoint.socket.fd(), bytes.data(), bytes.size(), from);
      // An empty datagram is classified as Closed; it is a frame too short.
      if (outcome.status != halvix::platform::SocketStatus::Done &&
          outcome.status != halvix::platform::SocketStatus::Closed)
        return;
      const Arrival arrival = Arrival::now();
      if (stamps_) stamps_->poll();
      std::string_view datagram(bytes.data(), outcome.count);
      FrameRecord record = board_.receive(datagram, endpoint.lampIds, arrival, stamps_.get());
      if (options_.json) std::cout << halvix::tools::jsonText(frameJson(record, datagram.size())) << std::endl;
      changed_ = true;
    }
  }

  void show(bool last) {
    if (options_.json || !changed_) return;
    const auto now = Clock::now();
    if (!last && now - lastDraw_ < kRedraw) return;
    lastDraw_ = now;
    changed_ = false;
    if (terminal_) {
      std::cout << "\r\x1b[2K" << liveLine(board_, true, stripBlocks()) << std::flush;
      drawn_ = true;
    } else {
      std::cout << liveLine(board_, false, stripBlocks()) << std::endl;
    }
  }

  unsigned stripBlocks() const { return options_.strip ? kStripBlocks : 0; }

  void finish() {
    if (options_.json) {
      std::cout << halvix::tools::jsonText(summaryJson(board_)) << std::endl;
      return;
    }
    if (drawn_) std::cout << "\n";
    std::cout << summaryText(board_) << std::flush;
  }

  const Options& options_;
  LampBoard board_;
  std::vector<Endpoint> endpoints_;
  std::unique_ptr<StampFollower> stamps_;
  bool terminal_ = false;
  bool changed_ = false;
  bool drawn_ = false;
  Clock::time_point lastDraw_{};
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int code = parse(argc, argv, options); code >= 0) return code;
  ConfigLoad load = loadLampConfig(options.config);
  if (!load.config) {
    std::cerr << "lampsim: " << load.error << "\n";
    return 1;
  }
  if (const int error = halvix::platform::socketsStartup(); error != 0) {
    std::cerr << "lampsim: sockets cannot be used: " << halvix::platform::systemErrorText(error) << "\n";
    return 1;
  }
  halvix::platform::takeTerminationRequests();
  Simulator simulator(options, *load.config);
  if (std::string why = simulator.open(*load.config); !why.empty()) {
    std::cerr << "lampsim: " << why << "\n";
    return 1;
  }
  simulator.run();
  return 0;
}
