#include <signal.h>

#include "tools/pack/interrupt.h"

namespace pack {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t caught = 0;
struct sigaction previous[3];

void OnSignal(int signal) {
  if (caught == signal) {  // asked twice: end now
    ::signal(signal, SIG_DFL);
    raise(signal);
    return;
  }
  if (!caught) caught = signal;
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  caught = 0;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous[i], nullptr);
}

const char* Interruption() {
  switch (caught) {
    case 0:
      return nullptr;
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

int InterruptionExitCode() { return 128 + caught; }

}  // namespace pack
