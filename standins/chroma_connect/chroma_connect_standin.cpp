// A stand-in for the Chroma Connect API library: Init, and
// RegisterEventNotification, which starts one thread that reports colour
// events. Colours come from the file named by HALVIX_CHROMA_COLORS (one
// "rrggbb [pause-ms]" per line, repeated), else from a slow colour wheel at
// about 30 events a second; now and then an event of another type is sent,
// which hosts must ignore. With HALVIX_CHROMA_STAMPS set, each colour event
// is also appended to that file as "<CLOCK_MONOTONIC ns> <rrggbb>", so that
// a lamp simulator can time the colour's way to the lamps (the steady clock
// is CLOCK_MONOTONIC on Linux).
//
// Test variants are built from this file:
//   HALVIX_STANDIN_MARKER       loading writes "constructor-ran" beside the library
//   HALVIX_STANDIN_NO_INIT      no Init export
//   HALVIX_STANDIN_INIT_RESULT  what Init answers (default 0)
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chroma/chroma_connect_abi.h"
#include "chroma_standin_export.h"
#include "standins/chroma_connect/standin_module.h"

#define HALVIX_EXPORT extern "C" HALVIX_STANDIN_EXPORT

namespace {

using halvix::chroma::ChromaEventCallback;
using halvix::chroma::ChromaGuid;
using halvix::chroma::standin::keepLoadedWhileThreadRuns;
using halvix::chroma::standin::ownFile;
using namespace std::chrono_literals;

struct Step {
  std::uint32_t colour;  // red in bits 0-7, green 8-15, blue 16-23
  std::chrono::milliseconds pause;
};

constexpr std::chrono::milliseconds kDefaultPause = 33ms;
constexpr int kOtherEventType = 7;
constexpr int kOtherEventEvery = 45;

std::vector<Step> readColourFile(const char* path) {
  std::vector<Step> steps;
  if (!path || !*path) return steps;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string hex;
    long pause = kDefaultPause.count();
    if (!(fields >> hex) || hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      continue;
    fields >> pause;
    const auto rgb = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
    const std::uint32_t colour = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    steps.push_back({colour, std::chrono::milliseconds(pause < 0 ? 0 : pause)});
  }
  return steps;
}

// Full saturation and value at `hue` degrees (0 to 359).
std::uint32_t wheelColour(unsigned hue) {
  const unsigned sector = hue / 60, rise = (hue % 60) * 255 / 60, fall = 255 - rise;
  unsigned r = 0, g = 0, b = 0;
  switch (sector) {
    case 0: r = 255, g = rise; break;
    case 1: r = fall, g = 255; break;
    case 2: g = 255, b = rise; break;
    case 3: g = fall, b = 255; break;
    case 4: r = rise, b = 255; break;
    default: r = 255, b = fall; break;
  }
  return r | (g << 8) | (b << 16);
}

// The notification thread. Here a static object: unloading the library or
// ending the process stops and joins the thread before the code it runs goes
// away. On Windows see `notifier` below.
class Notifier {
 public:
  ~Notifier() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void start(ChromaEventCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = callback;
    if (thread_.joinable() || stopping_) return;
    keepLoadedWhileThreadRuns();
    thread_ = std::thread(&Notifier::run, this);
  }

 private:
  // False once stopping.
  bool pause(std::chrono::milliseconds length) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, length, [this] { return stopping_; });
  }

  void emit(std::int32_t type, std::uint32_t value) {
    ChromaEventCallback callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      callback = callback_;
    }
    if (callback) callback(type, &value);
  }

  static void stamp(std::FILE* stamps, std::uint32_t colour) {
    if (!stamps) return;
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    std::fprintf(stamps, "%lld %02x%02x%02x\n", static_cast<long long>(now.count()), colour & 0xFF,
                 (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    std::fflush(stamps);
  }

  void run() {
    const std::vector<Step> steps = readColourFile(std::getenv("HALVIX_CHROMA_COLORS"));
    const char* stampPath = std::getenv("HALVIX_CHROMA_STAMPS");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stamps(stampPath && *stampPath ? std::fopen(stampPath, "a")
                                                                                  : nullptr,
                                                           [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    for (std::uint64_t n = 0;; ++n) {
      Step step = steps.empty() ? Step{wheelColour(static_cast<unsigned>(n % 360)), kDefaultPause}
                                : steps[n % steps.size()];
      // Stamped first: the event time is when the colour left the library.
      stamp(stamps.get(), step.colour);
      emit(halvix::chroma::kChromaColourEvent, step.colour);
      if (n % kOtherEventEvery == kOtherEventEvery - 1) emit(kOtherEventType, 0xFFFFFFFFu);
      if (!pause(step.pause)) return;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  ChromaEventCallback callback_ = nullptr;
  std::thread thread_;
};

#ifdef _WIN32
// Never destroyed: the library pins itself and so stays until the process
// ends, when the system has ended the notification thread already and
// joining it would wait for ever.
Notifier& notifier = *new Notifier;
#else
Notifier notifier;
#endif

#ifdef HALVIX_STANDIN_MARKER
__attribute__((constructor)) void markLoaded() {
  const std::filesystem::path file = ownFile();
  if (file.empty()) return;
  std::ofstream(file.parent_path() / "constructor-ran").flush();
}
#endif

#ifndef HALVIX_STANDIN_INIT_RESULT
#define HALVIX_STANDIN_INIT_RESULT 0
#endif

}  // namespace

#ifndef HALVIX_STANDIN_NO_INIT
HALVIX_EXPORT std::int32_t Init(ChromaGuid) { return HALVIX_STANDIN_INIT_RESULT; }
#endif

HALVIX_EXPORT std::int32_t RegisterEventNotification(ChromaEventCallback callback) {
  notifier.start(callback);
  return 0;
}
