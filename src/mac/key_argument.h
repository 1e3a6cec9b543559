// A key given on the command line stays in the process's argument list,
// which every user of the machine can read (ps, /proc/PID/cmdline), for as
// long as the process runs. Once the options are parsed it is not needed
// there any more.
#pragma once

#include <cstring>
#include <string_view>

namespace kalvrin {

// Overwrites with NULs the value of every --key option in argv, given as
// "--key VALUE" or "--key=VALUE", up to a "--" after which the arguments
// are no options. The number of arguments stays, so the list still parses
// and shows where the key was. --key-file's path is not secret and stays.
inline void BlankKeyArguments(int argc, char** argv) {
  constexpr std::string_view kOption = "--key";
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    if (argument == nullptr) continue;
    const std::string_view text(argument);
    if (text == "--") return;
    if (text == kOption && i + 1 < argc && argv[i + 1] != nullptr) {
      ++i;
      std::memset(argv[i], 0, std::strlen(argv[i]));
    } else if (text.size() > kOption.size() && text.starts_with(kOption) && text[kOption.size()] == '=') {
      std::memset(argument + kOption.size() + 1, 0, text.size() - kOption.size() - 1);
    }
  }
}

}  // namespace kalvrin
