// kalvrin-check: the window's commands without the window.
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "headless/check_app.h"
#include "mac/key_argument.h"

int main(int argc, char** argv) {
  try {
    return kalvrin::RunKalvrinCheck(argc, argv, std::cout, std::cerr,
                                    [argc, argv] { kalvrin::BlankKeyArguments(argc, argv); });
  } catch (const std::bad_alloc&) {
    std::fputs("kalvrin-check: out of memory\n", stderr);
  } catch (const std::exception&) {
    std::fputs("kalvrin-check: cannot start\n", stderr);
  }
  return kalvrin::kExitCannotRun;
}
