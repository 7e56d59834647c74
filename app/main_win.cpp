// The runner's entry on Windows: a GUI program without console. Its arguments come from
// GetCommandLineW; the Windows arguments of the entry are not used.
#include <windows.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/shell_platform.h"
#include "app/startup.h"
#include "content/runner_marker.h"
#include "contentexe_version.h"

namespace {

// "--version" as the only argument: the version and commit on the standard output the
// caller gave (a pipe or file), else on the console of the caller, else in a message box
// (a GUI program has no console of its own).
int ShowVersion() {
  const char text[] = "contentexe " CX_VERSION_TEXT " (commit " CX_VERSION_COMMIT ")\r\n";
  DWORD written = 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, text, sizeof text - 1, &written, nullptr))
    return 0;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    bool ok = console != INVALID_HANDLE_VALUE &&
              WriteFile(console, text, sizeof text - 1, &written, nullptr);
    if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
    if (ok) return 0;
  }
  MessageBoxA(nullptr, text, "contentexe", MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  content::KeepRunnerMarker();
  std::u16string commandLine = reinterpret_cast<const char16_t*>(GetCommandLineW());
  std::vector<std::u16string> elements = app::SplitCommandLine(commandLine);
  size_t first = app::FirstElementIsProgram(elements) ? 1 : 0;
  if (elements.size() == first + 1 && elements[first] == u"--version") return ShowVersion();
  app::InitializeThread();
  app::StartArguments parsed = app::ParseCommandLineElements(elements, app::IsExistingFile);
  int code = app::RunContent(parsed);
  app::UninitializeThread();
  return code;
}
