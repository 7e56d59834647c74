// The process-wide values of one run, set by the start-up on the main thread and read by
// the server records, the browser launch and the exit handler.
//
// ContentId: CRC-32 of the whole archive (0 = not computed, never an identity).
// ProcessId: this process's identifier.
// ContentBaseUrl: the URL every page of the content hangs off: this run's server URL
// and run prefix, or the URL of another process's server for the same content.
#pragma once

#include <cstdint>
#include <string>

namespace app {

extern uint32_t ContentId;
extern uint32_t ProcessId;
extern std::u16string ContentBaseUrl;

}  // namespace app
