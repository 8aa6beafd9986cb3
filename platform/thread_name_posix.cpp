#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>
#include <string>

namespace halvix::platform {

void nameCurrentThread(const char* name) {
  // The kernel keeps 16 bytes with the terminating zero and refuses more.
  const std::string kept(name, strnlen(name, 15));
  pthread_setname_np(pthread_self(), kept.c_str());
}

}  // namespace halvix::platform
