#pragma once
// Running helper programs from tests: to their end, with their output in files.
#include <string>
#include <vector>

namespace halvix::test {

// Runs a program (found on PATH unless the name has a slash) to its end, its
// standard output and error going to the files given (or nowhere). Its exit
// status, or -1 when it could not start or did not exit.
int runToEnd(const std::vector<std::string>& args, const char* outPath = "/dev/null",
             const char* errPath = "/dev/null");

std::string fileText(const std::string& path);

}  // namespace halvix::test
