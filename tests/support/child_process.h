// The built kalvrin-check run as a child process, as a shell would run it:
// standard input from the test, standard output read through a pipe as it
// comes, standard error kept for the end.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "support/check_runner.h"

namespace kalvrin::test {

// The program the tests run: the kalvrin-check built beside them.
const char* CheckProgramPath();

class ChildProcess {
 public:
  // argv[0] is the program. env: NAME=VALUE entries added to the test's own
  // environment; NAME= alone removes that variable.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  ~ChildProcess();  // ends a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void WriteInput(std::string_view text);
  void CloseInput();
  // The next line of standard output without its line end; false at its end.
  bool ReadLine(std::string& line);
  std::string ReadRest();
  // Waits for the end: the exit status, or -1 when a signal ended it.
  int Wait();
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::FILE* output_ = nullptr;
  char* lineBuffer_ = nullptr;  // getline's
  std::size_t lineCapacity_ = 0;
  std::FILE* errors_ = nullptr;  // an unnamed temporary file
  bool waited_ = false;
  int status_ = -1;
};

// Runs to the end with this standard input.
Printed RunProgram(const std::vector<std::string>& argv, std::string_view input = {},
                   const std::vector<std::string>& env = {});

}  // namespace kalvrin::test
