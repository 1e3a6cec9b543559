// kalvrin-check: the window's commands without the window.
#include <iostream>

#include "headless/check_app.h"

int main(int argc, char** argv) { return kalvrin::RunKalvrinCheck(argc, argv, std::cout, std::cerr); }
