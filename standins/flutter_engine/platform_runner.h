#pragma once
// Inside the engine stand-in: the host's task runner as a C++ object that
// posts closures to the platform thread.
#include <functional>

#include "platform/flutter_api/stand_in_api.h"

namespace halvix::flutter_engine {

class PlatformRunner {
 public:
  explicit PlatformRunner(const HalvixFlutterTaskRunner& runner) : runner_(runner) {}

  // A runner the engine can use: the right size and a post function.
  static bool usable(const HalvixFlutterTaskRunner* runner);

  // Any thread: `work` runs later on the platform thread.
  void post(std::function<void()> work) const;

 private:
  HalvixFlutterTaskRunner runner_;
};

}  // namespace halvix::flutter_engine
