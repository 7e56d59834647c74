// End-to-end runs of the Windows runner (meant for Wine): the test appends a ZIP and its
// footer to contentexe.exe, starts the result, and checks what other programs see of it:
// its DeployedServers value, the single-instance mutex, its message window, the menu
// command that stops it, and the start page it serves.
//
// The default browser is made harmless first: Wine hands http URLs to winebrowser,
// which starts the first program of its "Browsers" list; /bin/true takes the URL and
// ends at once.
#include <windows.h>
#include <winhttp.h>
// windows.h first: shellapi.h depends on it.
#include <shellapi.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kServersKey[] = L"SOFTWARE\\Trellium\\DeployedServers";

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A stored (uncompressed) ZIP of entries, written here so the test depends on no
// archive code of the program.
std::string MakeStoredZip(const std::map<std::string, std::string>& entries) {
  std::string zip, directory;
  for (const auto& [name, data] : entries) {
    uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    uint32_t offset = static_cast<uint32_t>(zip.size());
    Put32(zip, 0x04034b50);
    Put16(zip, 10), Put16(zip, 0), Put16(zip, 0), Put16(zip, 0), Put16(zip, 0x21);
    Put32(zip, crc), Put32(zip, data.size()), Put32(zip, data.size());
    Put16(zip, name.size()), Put16(zip, 0);
    zip += name + data;
    Put32(directory, 0x02014b50);
    Put16(directory, 20), Put16(directory, 10), Put16(directory, 0), Put16(directory, 0);
    Put16(directory, 0), Put16(directory, 0x21);
    Put32(directory, crc), Put32(directory, data.size()), Put32(directory, data.size());
    Put16(directory, name.size()), Put16(directory, 0), Put16(directory, 0);
    Put16(directory, 0), Put16(directory, 0), Put32(directory, 0), Put32(directory, offset);
    directory += name;
  }
  uint32_t directoryOffset = static_cast<uint32_t>(zip.size());
  zip += directory;
  Put32(zip, 0x06054b50);
  Put16(zip, 0), Put16(zip, 0), Put16(zip, entries.size()), Put16(zip, entries.size());
  Put32(zip, directory.size()), Put32(zip, directoryOffset), Put16(zip, 0);
  return zip;
}

std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) Put16(out, c);
  return out;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Unix paths from the test environment name the same files through drive Z:.
std::wstring WinePath(const char* unixPath) {
  std::wstring path = Widen(unixPath);
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

struct Process {
  PROCESS_INFORMATION info{};
  bool Running() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT; }
  DWORD WaitExit(DWORD milliseconds) {
    if (WaitForSingleObject(info.hProcess, milliseconds) != WAIT_OBJECT_0) return 0xDEAD;
    DWORD code = 0xDEAD;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
  void Close() {
    if (info.hProcess) {
      if (Running()) TerminateProcess(info.hProcess, 1), WaitExit(5000);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    }
    info = {};
  }
};

std::map<std::wstring, std::string> ServerValues() {
  std::map<std::wstring, std::string> values;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kServersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return values;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 4096;
    std::string data(size, '\0');
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                      &size) != ERROR_SUCCESS) {
      break;
    }
    if (type == REG_MULTI_SZ) values[name] = data.substr(0, size);
  }
  RegCloseKey(key);
  return values;
}

HWND FindServerWindow(DWORD processId) {
  for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, L"mrv.http2", nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId) return w;
  }
  return nullptr;
}

// GET of an http://localhost:port/path URL; the status, or 0.
int HttpGet(const std::wstring& url, std::string& body) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[64], path[512];
  parts.lpszHostName = host, parts.dwHostNameLength = 64;
  parts.lpszUrlPath = path, parts.dwUrlPathLength = 512;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return 0;
  int status = 0;
  HINTERNET session = WinHttpOpen(L"e2e", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr, 0);
  // The server answers one request per connection; without this Wine's WinHTTP would
  // send the next request over the pooled socket that the server already closed.
  const wchar_t close[] = L"Connection: close\r\n";
  if (request && WinHttpSendRequest(request, close, static_cast<DWORD>(-1), nullptr, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    DWORD code = 0, size = sizeof code;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                        &code, &size, nullptr);
    status = static_cast<int>(code);
    char buffer[4096];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got) body.append(buffer, got);
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return status;
}

class WindowsRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("CX_BINARY_DIR");
    stub_ = ReadAll(WinePath(binary ? binary : ".") + L"\\bin\\contentexe.exe");
    if (stub_.empty()) GTEST_SKIP() << "contentexe.exe not built";
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      const wchar_t browsers[] = L"true";
      RegSetValueExW(key, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browsers),
                     sizeof browsers);
      RegCloseKey(key);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, kServersKey);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = temp;
  }

  void TearDown() override {
    for (Process& p : processes_) p.Close();
    for (const std::wstring& f : files_) DeleteFileW(f.c_str());
  }

  // The runner with a ZIP of entries appended; its archive's CRC-32 goes to contentId.
  std::wstring Make(const std::wstring& name, const std::map<std::string, std::string>& entries,
                    uint32_t& contentId) {
    std::string zip = MakeStoredZip(entries);
    contentId = crc32(0, reinterpret_cast<const Bytef*>(zip.data()), static_cast<uInt>(zip.size()));
    std::string footer("KVLEXEFTR\0\0\0", 12);
    Put32(footer, static_cast<uint32_t>(zip.size()));
    std::wstring path = dir_ + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::ofstream(path.c_str(), std::ios::binary) << stub_ << zip << footer;
    files_.push_back(path);
    return path;
  }

  Process& Start(const std::wstring& exe) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    processes_.emplace_back();
    EXPECT_TRUE(CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &processes_.back().info));
    return processes_.back();
  }

  // The value recorded under name, waited for at most seconds.
  std::string WaitForValue(const std::wstring& name, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      auto values = ServerValues();
      if (values.count(name)) return values[name];
      Sleep(100);
    }
    return {};
  }

  std::string stub_;
  std::wstring dir_;
  std::vector<std::wstring> files_;
  std::deque<Process> processes_;
};

const std::map<std::string, std::string> kDefaultBrowserContent = {
    {"index.html", "<html>WINDOWS-E2E</html>"},
    {".use_ie", Utf16Le(u"0")},
    {".caption", Utf16Le(u"Windows e2e")},
};

// "<pid>\0http://localhost:<port>/<hex>/\0\0" as UTF-16LE: the URL, or "" when the bytes
// are not of that form.
std::wstring UrlOfRecord(const std::string& data, DWORD processId) {
  std::wstring text(data.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<unsigned char>(data[2 * i]) |
              (static_cast<unsigned char>(data[2 * i + 1]) << 8);
  }
  std::wstring pid = std::to_wstring(processId);
  if (text.size() < 3 || text.compare(0, pid.size() + 1, pid + L'\0') != 0) return {};
  if (text.substr(text.size() - 2) != std::wstring(2, L'\0')) return {};
  std::wstring url = text.substr(pid.size() + 1, text.size() - pid.size() - 3);
  if (url.find(L'\0') != std::wstring::npos || url.rfind(L"http://localhost:", 0) != 0 ||
      url.back() != L'/') {
    return {};
  }
  return url;
}

TEST_F(WindowsRunner, RecordsServesAndStopsFromTheMenuCommand) {
  uint32_t contentId = 0;
  Process& runner = Start(Make(L"cx-menu", kDefaultBrowserContent, contentId));
  std::wstring name = std::to_wstring(contentId);
  std::string data = WaitForValue(name, 30);
  ASSERT_FALSE(data.empty()) << "no DeployedServers value " << contentId;
  std::wstring url = UrlOfRecord(data, runner.info.dwProcessId);
  ASSERT_FALSE(url.empty());
  EXPECT_TRUE(runner.Running());

  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Trellium-Exedeploy-Mutex");
  EXPECT_NE(mutex, nullptr);
  if (mutex) CloseHandle(mutex);

  std::string body;
  EXPECT_EQ(HttpGet(url + L"index.html", body), 200);
  EXPECT_EQ(body, "<html>WINDOWS-E2E</html>");

  HWND window = FindServerWindow(runner.info.dwProcessId);
  ASSERT_NE(window, nullptr);
  // The shell knows the icon of the window: changing it succeeds only for an icon that
  // was added.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon));
  icon.uID = 1;
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
  // When Explorer restarts, every icon is gone and "TaskbarCreated" is broadcast: the
  // runner adds its icon again.
  icon.uID = 0;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                      SMTO_ABORTIFHUNG, 5000, &ignored);
  bool back = false;
  for (int i = 0; i < 50 && !back; ++i) {
    back = Shell_NotifyIconW(NIM_MODIFY, &icon);
    if (!back) Sleep(100);
  }
  EXPECT_TRUE(back) << "the icon did not come back after TaskbarCreated";
  // Left clicks on the icon do nothing.
  PostMessageW(window, 1579, 0, WM_LBUTTONUP);
  Sleep(300);
  EXPECT_TRUE(runner.Running());
  // Any other command leaves it running; "Stop content server" ends it.
  PostMessageW(window, WM_COMMAND, 2221, 0);
  Sleep(300);
  EXPECT_TRUE(runner.Running());
  PostMessageW(window, WM_COMMAND, 2222, 0);
  EXPECT_EQ(runner.WaitExit(20000), 0u);
  EXPECT_EQ(ServerValues().count(name), 0u);
  EXPECT_EQ(FindServerWindow(runner.info.dwProcessId), nullptr);
}

TEST_F(WindowsRunner, SecondStartUsesTheRunningServerAndEndsWithZero) {
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-twice", kDefaultBrowserContent, contentId);
  Process& first = Start(exe);
  std::wstring name = std::to_wstring(contentId);
  std::string data = WaitForValue(name, 30);
  ASSERT_FALSE(data.empty());
  Process& second = Start(exe);
  EXPECT_EQ(second.WaitExit(20000), 0u);
  EXPECT_TRUE(first.Running());
  auto values = ServerValues();
  EXPECT_EQ(values.size(), 1u);
  EXPECT_EQ(values[name], data);  // still the first process's record
  PostMessageW(FindServerWindow(first.info.dwProcessId), WM_COMMAND, 2222, 0);
  EXPECT_EQ(first.WaitExit(20000), 0u);
}

// Without .use_ie the start page goes to Internet Explorer; where its launcher cannot
// be loaded the default browser takes the page, and the server keeps running.
TEST_F(WindowsRunner, MissingInternetExplorerFallsBackToTheDefaultBrowser) {
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-ie", {{"index.html", "<html>IE</html>"}}, contentId);
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"ieframe=d;mscoree,mshtml=");
  Process& runner = Start(exe);
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", nullptr);
  ASSERT_FALSE(WaitForValue(std::to_wstring(contentId), 30).empty());
  Sleep(1000);
  EXPECT_TRUE(runner.Running());
  PostMessageW(FindServerWindow(runner.info.dwProcessId), WM_COMMAND, 2222, 0);
  EXPECT_EQ(runner.WaitExit(20000), 0u);
}

}  // namespace
