// kalvrin-check: the window's commands without the window.
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "headless/check_app.h"

int main(int argc, char** argv) {
  try {
    return kalvrin::RunKalvrinCheck(argc, argv, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::fputs("kalvrin-check: out of memory\n", stderr);
  } catch (const std::exception&) {
    std::fputs("kalvrin-check: cannot start\n", stderr);
  }
  return kalvrin::kExitCannotRun;
}
