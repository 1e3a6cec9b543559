// Opening a transaction file, shared by the format check and the message
// decoder so that both accept and refuse the same files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace kalvrin {

// Opens a transaction file read-only, or returns nullptr. Only a regular
// file is one: a directory cannot be read, and a device or pipe may never
// end. The open does not wait: a named pipe without a writer would otherwise
// hold the caller, and the window with it, for ever. `size` is the file's
// size when it opens. The caller closes the stream.
std::FILE* OpenTransactionFile(std::string_view path, std::int64_t& size);

}  // namespace kalvrin
