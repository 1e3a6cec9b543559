#include "support/child_process.h"

#include "support/test_files.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace kalvrin::test {

const char* CheckProgramPath() { return kCheckProgram; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that stops reading early must not end the test
  int in[2];
  int out[2];
  errors_ = std::tmpfile();
  if (errors_ == nullptr || ::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("cannot make pipes");
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot fork");
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(::fileno(errors_), STDERR_FILENO);
    ::close(in[0]);
    ::close(in[1]);
    ::close(out[0]);
    ::close(out[1]);
    for (const std::string& entry : env) {
      const std::size_t equals = entry.find('=');
      const std::string name = entry.substr(0, equals);
      const std::string value = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
      if (value.empty()) {
        ::unsetenv(name.c_str());
      } else {
        ::setenv(name.c_str(), value.c_str(), 1);
      }
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  input_ = in[1];
  output_ = ::fdopen(out[0], "r");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !waited_ && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  CloseInput();
  if (output_ != nullptr) std::fclose(output_);
  std::free(lineBuffer_);
  if (errors_ != nullptr) std::fclose(errors_);
}

void ChildProcess::WriteInput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(input_, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

bool ChildProcess::ReadLine(std::string& line) {
  const ssize_t length = ::getline(&lineBuffer_, &lineCapacity_, output_);
  if (length <= 0) {
    line.clear();
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(length);
  line.assign(lineBuffer_, lineBuffer_[size - 1] == '\n' ? size - 1 : size);
  return true;
}

std::string ChildProcess::ReadRest() {
  std::string text;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, output_)) > 0;) text.append(buffer, got);
  return text;
}

int ChildProcess::Wait() {
  CloseInput();
  if (waited_) return status_;
  int status = 0;
  ::waitpid(pid_, &status, 0);
  waited_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

std::string ChildProcess::Errors() const {
  std::string text;
  std::rewind(errors_);
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, errors_)) > 0;) text.append(buffer, got);
  return text;
}

Printed RunProgram(const std::vector<std::string>& argv, std::string_view input, const std::vector<std::string>& env) {
  ChildProcess child(argv, env);
  child.WriteInput(input);
  child.CloseInput();
  std::string out = child.ReadRest();
  const int code = child.Wait();
  return {code, std::move(out), child.Errors()};
}

}  // namespace kalvrin::test
