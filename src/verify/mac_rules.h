// The one place where verify meets the MAC check's core: the key's check
// value, the envelope as the MAC check finds it and the three MAC variants,
// without a window.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "defines.h"
#include "io/file_identity.h"

namespace kalvrin::verify {

struct FileMacs {
  bool computed = false;  // false: see failure
  std::string failure;    // the MAC check's own text, e.g. "File Header not found"
  std::string keyKcv;     // the key's check value, 8 upper-case hex digits
  bool trailerFound = false;
  std::string declared;                 // the trailer's MAC as the MAC check reads it
  std::array<std::string, 3> variants;  // MACALL, MACNHD, MACNSP; empty where a variant has no MAC
};

// The variants' captions, in the order of FileMacs::variants.
inline constexpr std::array<std::string_view, 3> kVariantNames = {kMacVariants[0].caption, kMacVariants[1].caption,
                                                                  kMacVariants[2].caption};

// While the MAC is computed: its two reads of the file (the envelope's
// lookup, then the variants') counted as one, the bytes read of twice the
// file's size; false stops it (not computed, the failure "stopped").
using MacProgress = std::function<bool(std::int64_t bytesRead, std::int64_t fileSize)>;

// Over the file at the path, which must stay one file while it is read
// (failure kFileChanged otherwise). Safe to call from several threads at
// once.
FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const MacProgress& progress = {});

// Over the path only while it names the file verify read, as `read` records
// it (device, inode, size, modification time): another file renamed over
// the path, or the file changed since or while the MAC reads it, is not
// computed, with the failure kFileChanged.
FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const FileIdentity& read,
                         const MacProgress& progress = {});

}  // namespace kalvrin::verify
