// A minimal host for tests and benchmarks: loads the engine stand-in from
// beside the executable, runs it on the platform loop, registers the SDK
// plugin and the Chroma bridge (razerkit channel, Chroma Connect library,
// 100 ms colour tick), and serves the messenger socket until SIGINT or
// SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "chroma/chroma_bridge.h"
#include "platform/flutter/binary_messenger_impl.h"
#include "platform/flutter/engine_api.h"
#include "platform/flutter_engine/asio_task_runner.h"
#include "platform/flutter_engine/messenger_socket.h"
#include "platform/flutter_engine/stand_in_loader.h"
#include "sdk/flutter_lib_corvel_plugin.h"

namespace {

constexpr const char* kUsage = "usage: halvix_testhost [--socket PATH] [--drive-root DIR] [--current-dir DIR]\n";

constexpr auto kColorTickPeriod = std::chrono::milliseconds(100);

// Reschedules from its own deadline, so ticks keep their pace.
void scheduleColorTick(boost::asio::steady_timer& timer, halvix::chroma::ChromaBridge& chroma) {
  timer.expires_at(timer.expiry() + kColorTickPeriod);
  timer.async_wait([&timer, &chroma](const boost::system::error_code& error) {
    if (error) return;
    chroma.OnColorTick();
    scheduleColorTick(timer, chroma);
  });
}

int serve(const std::string& socketPath, const halvix::sdk::SdkDirectories& directories,
          halvix::chroma::ChromaBridge& chroma) {
  halvix::flutter_engine::StandIn standIn;
  const auto& engineApi = flutter::EngineApi();
  boost::asio::io_context loop(1);
  auto runner = halvix::flutter_engine::asioTaskRunner(loop);
  standIn.setPlatformTaskRunner(&runner);

  FlutterDesktopEngineProperties properties{};
  FlutterDesktopEngineRef engine = engineApi.FlutterDesktopEngineCreate(&properties);
  if (!engine) return 1;
  if (int error = standIn.listen(engine, socketPath.c_str())) {
    if (error == EADDRINUSE)
      std::fprintf(stderr, "halvix_testhost: another host is listening on %s\n", socketPath.c_str());
    else
      std::fprintf(stderr, "halvix_testhost: cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(error));
    engineApi.FlutterDesktopEngineDestroy(engine);
    return 1;
  }
  halvix::sdk::registerSdkPlugin(engineApi.FlutterDesktopEngineGetPluginRegistrar(engine, halvix::sdk::kSdkPluginName),
                                 directories);
  // Removes its handlers when it goes, so it must go while the engine lives.
  auto messenger = std::make_unique<flutter::BinaryMessengerImpl>(engineApi.FlutterDesktopEngineGetMessenger(engine));
  chroma.InitChromaConnect();
  if (!chroma.chromaStatus().empty()) std::fprintf(stderr, "halvix_testhost: %s\n", chroma.chromaStatus().c_str());
  chroma.RegisterChannel(messenger.get());
  boost::asio::steady_timer colorTimer(loop, std::chrono::steady_clock::now());
  scheduleColorTick(colorTimer, chroma);

  boost::asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code&, int) {
    colorTimer.cancel();
    messenger.reset();
    engineApi.FlutterDesktopEngineDestroy(engine);
    engine = nullptr;
  });
  std::printf("ready %s\n", socketPath.c_str());
  std::fflush(stdout);
  // Runs until the engine is gone and the last of its tasks has run.
  loop.run();
  standIn.setPlatformTaskRunner(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> socketPath;
  halvix::sdk::SdkDirectories directories;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--socket")
      socketPath = argv[i + 1];
    else if (option == "--drive-root")
      directories.driveRoot = argv[i + 1];
    else if (option == "--current-dir")
      directories.currentDir = argv[i + 1];
    else {
      std::fputs(kUsage, stderr);
      return 1;
    }
  }
  if (argc % 2 == 0) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  // A path given is used as it is; the default one only in a folder that is
  // the user's own.
  if (!socketPath) {
    auto location = halvix::flutter_engine::defaultMessengerSocketLocation();
    if (std::string problem = halvix::flutter_engine::prepareMessengerSocketFolder(location); !problem.empty()) {
      std::fprintf(stderr, "halvix_testhost: %s\n", problem.c_str());
      return 1;
    }
    socketPath = location.path;
  }
  // Outlives the engine and with it the channel's handler.
  halvix::chroma::ChromaBridge chroma;
  try {
    return serve(*socketPath, directories, chroma);
  } catch (const flutter::EngineLoadError& e) {
    std::fprintf(stderr, "halvix_testhost: %s\n", e.what());
    return 1;
  }
}
