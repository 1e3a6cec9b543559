// kalvrin-check run in-process, as a script would run the program.
#pragma once

#include <string>
#include <vector>

namespace kalvrin::test {

struct Printed {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs kalvrin-check with these arguments (the program name is added).
Printed Check(std::vector<std::string> args);

}  // namespace kalvrin::test
