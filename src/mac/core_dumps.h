// No core dump while a clear key is in memory: a crash must not leave the key
// in a file, and other processes of the same user must not read it through
// ptrace or /proc/PID/mem meanwhile.
#pragma once

#include <sys/prctl.h>
#include <sys/resource.h>

#include <mutex>

namespace kalvrin {

// Core dumps are off while at least one of these lives; when the last one
// ends, the process gets back what it had before the first.
class NoCoreDumps {
 public:
  NoCoreDumps() {
    const std::lock_guard<std::mutex> lock(Shared().mutex);
    State& s = Shared();
    if (s.guards++ > 0) return;
    s.wasDumpable = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    s.hadLimit = ::getrlimit(RLIMIT_CORE, &s.limit) == 0;
    if (s.hadLimit) {
      rlimit none = s.limit;
      none.rlim_cur = 0;  // the hard limit stays, so the old value can come back
      ::setrlimit(RLIMIT_CORE, &none);
    }
  }
  ~NoCoreDumps() {
    const std::lock_guard<std::mutex> lock(Shared().mutex);
    State& s = Shared();
    if (--s.guards > 0) return;
    if (s.hadLimit) ::setrlimit(RLIMIT_CORE, &s.limit);
    // 2 (dumps readable by root only, after a set-user-ID start) cannot be set again
    if (s.wasDumpable == 1) ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
  }
  NoCoreDumps(const NoCoreDumps&) = delete;
  NoCoreDumps& operator=(const NoCoreDumps&) = delete;

 private:
  struct State {
    std::mutex mutex;
    int guards = 0;
    int wasDumpable = 0;
    bool hadLimit = false;
    rlimit limit{};
  };
  static State& Shared() {
    static State state;
    return state;
  }
};

}  // namespace kalvrin
