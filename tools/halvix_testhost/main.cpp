// A minimal host for tests and benchmarks: runs the engine stand-in on the
// platform loop, registers the SDK plugin and serves the messenger socket
// until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "platform/flutter/plugin_registrar_windows.h"
#include "platform/flutter_engine/engine_loop.h"
#include "platform/flutter_engine/messenger_client.h"
#include "sdk/flutter_lib_corvel_plugin.h"

int main(int argc, char** argv) {
  std::string socketPath = halvix::flutter_engine::defaultMessengerSocketPath();
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
      std::fprintf(stderr, "usage: halvix_testhost [--socket PATH] [--drive-root DIR] [--current-dir DIR]\n");
      return 1;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "usage: halvix_testhost [--socket PATH] [--drive-root DIR] [--current-dir DIR]\n");
    return 1;
  }

  boost::asio::io_context loop(1);
  FlutterDesktopEngineProperties properties{};
  FlutterDesktopEngineRef engine = HalvixFlutterEngineCreateOnLoop(&properties, &loop);
  if (int error = HalvixFlutterEngineListen(engine, socketPath.c_str())) {
    std::fprintf(stderr, "halvix_testhost: cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(error));
    FlutterDesktopEngineDestroy(engine);
    return 1;
  }
  auto* registrar = flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(
      FlutterDesktopEngineGetPluginRegistrar(engine, "FlutterLibCorvelPlugin"));
  halvix::sdk::FlutterLibCorvelPlugin::RegisterWithRegistrar(registrar, directories);

  boost::asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code&, int) {
    FlutterDesktopEngineDestroy(engine);
    engine = nullptr;
    loop.stop();
  });
  std::printf("ready %s\n", socketPath.c_str());
  std::fflush(stdout);
  loop.run();
  if (engine) FlutterDesktopEngineDestroy(engine);
  return 0;
}
