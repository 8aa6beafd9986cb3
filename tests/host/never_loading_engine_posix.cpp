// An engine library whose loading never finishes, as one stuck on a lock or
// a device would: its initialiser marks that loading began (at the path in
// HALVIX_TEST_LOADING_MARK), then blocks.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void neverFinishLoading() {
  if (const char* mark = std::getenv("HALVIX_TEST_LOADING_MARK")) {
    if (std::FILE* file = std::fopen(mark, "w")) std::fclose(file);
  }
  for (;;) ::pause();
}

}  // namespace
