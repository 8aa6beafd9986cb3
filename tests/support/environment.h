#pragma once
// Setting and clearing the tests' own environment variables in the C
// runtime's environment, which getenv (and Lua's os.getenv) read.
#include <cstdlib>
#include <string>

namespace halvix::test {

inline void setEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), value.c_str());
#else
  ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unsetEnvironment(const std::string& name) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), "");  // an empty value removes the variable there
#else
  ::unsetenv(name.c_str());
#endif
}

}  // namespace halvix::test
