// The runner's entry on Windows: a GUI program without console. Its arguments come from
// GetCommandLineW; the Windows arguments of the entry are not used.
#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "app/shell_platform.h"
#include "app/startup.h"
#include "content/runner_marker.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  content::KeepRunnerMarker();
  app::InitializeThread();
  std::u16string commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
  app::StartArguments parsed =
      app::ParseCommandLineElements(app::SplitCommandLine(commandLine), app::IsExistingFile);
  int code = app::RunContent(parsed);
  app::UninitializeThread();
  return code;
}
