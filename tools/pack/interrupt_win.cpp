#include <windows.h>

#include <atomic>

#include "tools/pack/interrupt.h"

namespace pack {
namespace {

std::atomic<const char*> caught{nullptr};
HANDLE finished = nullptr;  // set when the catcher goes, the cleanup done

// Runs on a thread the system creates for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const char* name = event == CTRL_C_EVENT       ? "Ctrl+C"
                     : event == CTRL_BREAK_EVENT ? "Ctrl+Break"
                     : event == CTRL_CLOSE_EVENT ? "the console being closed"
                                                 : "the session ending";
  const char* expected = nullptr;
  if (!caught.compare_exchange_strong(expected, name) && expected == name &&
      (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) {
    return FALSE;  // asked twice: the default handling ends the process now
  }
  // For the console closing, logging off and shutting down, the process ends when this
  // returns: give the main thread the time to remove the temporary output.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && finished)
    WaitForSingleObject(finished, 4000);
  return TRUE;
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  caught = nullptr;
  finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptCatcher::~InterruptCatcher() {
  if (finished) SetEvent(finished);
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

const char* Interruption() { return caught.load(); }

int InterruptionExitCode() { return 130; }

}  // namespace pack
