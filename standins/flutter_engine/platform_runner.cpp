#include "standins/flutter_engine/platform_runner.h"

#include <memory>

namespace halvix::flutter_engine {

namespace {

void runAndFree(void* context) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(context));
  (*work)();
}

}  // namespace

bool PlatformRunner::usable(const HalvixFlutterTaskRunner* runner) {
  return runner && runner->struct_size >= sizeof(HalvixFlutterTaskRunner) && runner->post;
}

void PlatformRunner::post(std::function<void()> work) const {
  auto task = std::make_unique<std::function<void()>>(std::move(work));
  runner_.post(runner_.host_context, runAndFree, task.get());
  task.release();  // runAndFree owns it now
}

}  // namespace halvix::flutter_engine
