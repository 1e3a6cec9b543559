#include "support/check_runner.h"

#include <sstream>

#include "headless/check_app.h"

namespace kalvrin::test {

Printed Check(std::vector<std::string> args) {
  args.insert(args.begin(), "kalvrin-check");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int code = RunKalvrinCheck(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

}  // namespace kalvrin::test
