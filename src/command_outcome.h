// How a command's run came out, for front ends that act on it (an exit
// status, a message) rather than on the texts the window shows.
#pragma once

namespace kalvrin {

enum class Outcome {
  Succeeded,  // the command did what it was asked
  Failed,     // it ran, and what it found is wrong or unfinished
  CannotRun,  // it could not do its work: an unreadable file, a bad key, nothing to verify
};

}  // namespace kalvrin
