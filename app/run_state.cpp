#include "app/run_state.h"

namespace app {

// Defined with the library rather than the runner's start-up: the packer's preview
// opens the browser through the same launch and sets ContentBaseUrl too.
uint32_t ContentId = 0;
uint32_t ProcessId = 0;
std::u16string ContentBaseUrl;

}  // namespace app
