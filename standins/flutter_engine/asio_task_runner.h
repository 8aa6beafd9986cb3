#pragma once
// For hosts whose platform thread runs a Boost.Asio io_context: the task
// runner that lends that thread to the engine stand-in.
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "platform/flutter_api/stand_in_api.h"

namespace halvix::flutter_engine {

// `loop` must outlive the engines created with the runner, and must run
// every task posted to it: let it run out of work rather than stop it.
inline HalvixFlutterTaskRunner asioTaskRunner(boost::asio::io_context& loop) {
  HalvixFlutterTaskRunner runner{};
  runner.struct_size = sizeof runner;
  runner.host_context = &loop;
  runner.post = [](void* host_context, HalvixFlutterTask task, void* task_context) {
    boost::asio::post(*static_cast<boost::asio::io_context*>(host_context), [task, task_context] { task(task_context); });
  };
  return runner;
}

}  // namespace halvix::flutter_engine
