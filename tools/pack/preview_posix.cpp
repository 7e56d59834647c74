#include "app/shell_platform.h"
#include "tools/pack/preview.h"

namespace pack {

// SIGINT and SIGTERM were blocked before the server's thread started (PrepareForServing);
// the runner's wait takes them and stops the server.
void WaitForPreviewStop(storage::HttpServer& server) { app::WaitForServer(server); }

}  // namespace pack
