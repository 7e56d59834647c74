// The runner's entry on POSIX systems: the same flow as on Windows, with messages on
// standard error and Ctrl+C (SIGINT) or SIGTERM in place of the tray menu.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "app/shell_platform.h"
#include "app/startup.h"
#include "content/runner_marker.h"
#include "contentexe_version.h"
#include "utils/encoding.h"

int main(int argc, char** argv) {
  content::KeepRunnerMarker();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("contentexe %s (commit %s)\n", CX_VERSION_TEXT, CX_VERSION_COMMIT);
    return 0;
  }
  app::InitializeThread();
  // argv[0] is always the program here; the arguments follow it.
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(utils::Utf8ToWide(argv[i]));
  app::StartArguments parsed = app::ParseArguments(arguments, app::IsExistingFile);
  int code = app::RunContent(parsed);
  app::UninitializeThread();
  // 255: the POSIX form of the -1 that Windows returns.
  return code == app::kExitFailed ? 255 : code;
}
