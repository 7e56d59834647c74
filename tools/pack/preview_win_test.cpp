// The Windows packer's --preview (meant for Wine): it serves a folder over loopback, an
// edit shows at the next request, and ending its console process group stops it.
// Wine hands http URLs to winebrowser, which starts the first program of its "Browsers"
// list: /bin/true takes the URL and ends at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "testing/test_client.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A port nobody listens on now: one the system handed out and took back.
uint16_t FreePort() {
  for (uint16_t port = 20000 + GetCurrentProcessId() % 20000; port < 65000; port += 7)
    if (storage::test::CanBind(port)) return port;
  return 0;
}

// The body of a GET of path, or "" while nothing answers with 200.
std::string Get(uint16_t port, const std::string& path) {
  std::string answer = storage::test::Exchange(
      port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  size_t body = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.1 200", 0) != 0 || body == std::string::npos) return {};
  return answer.substr(body + 4);
}

TEST(PreviewWinTest, ServesAFolderAndAnEditShowsAtTheNextRequest) {
  const char* binary = std::getenv("CX_BINARY_DIR");
  std::wstring dir = binary ? std::wstring(binary, binary + strlen(binary)) : L".";
  if (!dir.empty() && dir[0] == L'/') dir = L"Z:" + dir;  // Unix paths through drive Z:
  std::wstring packer = dir + L"/bin/contentexe-pack.exe";
  if (!fs::exists(packer)) GTEST_SKIP() << "contentexe-pack.exe not built";
  const wchar_t browsers[] = L"true";
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", L"Browsers", REG_SZ, browsers,
                  sizeof browsers);

  fs::path site = fs::temp_directory_path() / ("cx-preview-" + std::to_string(GetTickCount()));
  Write(site / "index.html", "<p>first</p>");
  Write(site / "guide" / "Page.html", "<p>guide</p>");
  uint16_t port = FreePort();
  ASSERT_NE(port, 0);
  std::wstring command =
      L"\"" + packer + L"\" --preview \"" + site.wstring() + L"\" --port " + std::to_wstring(port);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                             CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process))
      << GetLastError();

  // A brand-new Wine prefix makes the first start slow: polled with a deadline.
  std::string first;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((first = Get(port, "/index.html")).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(first, "<p>first</p>") << "no page from the preview within 60 s";
  EXPECT_EQ(Get(port, "/GUIDE/page.html"), "<p>guide</p>");
  Write(site / "index.html", "<p>second</p>");
  EXPECT_EQ(Get(port, "/index.html"), "<p>second</p>");
  EXPECT_EQ(Get(port, "/../index.html"), "") << "no '..' out of the folder";

  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::error_code ignored;
  fs::remove_all(site, ignored);
}

}  // namespace
