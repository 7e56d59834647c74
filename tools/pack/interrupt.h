// pack::InterruptCatcher: while one lives, what would end the packer in the middle of
// writing (SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl+C, Ctrl+Break and closing the
// console on Windows) is caught instead, so that the packer removes its temporary output
// and ends with a word. The packer polls Interruption() between reads; a second signal
// of the same kind ends the process at once, as if nothing had been caught.
//
// One catcher at a time, made and destroyed on the main thread.
#pragma once

namespace pack {

class InterruptCatcher {
 public:
  InterruptCatcher();
  // Restores the previous handling. Windows ends a process whose console is closed as
  // soon as the handler returns: the handler waits (up to 4 s) for this destructor.
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;
};

// What interrupted the packer ("SIGINT", "Ctrl+C", ...), or null while nothing has. Any
// thread.
const char* Interruption();

// The exit status for the interruption: 128 plus the signal's number on POSIX (as shells
// report a command a signal ended), 130 on Windows.
int InterruptionExitCode();

}  // namespace pack
