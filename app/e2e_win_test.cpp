// End-to-end runs of the Windows runner (meant for Wine): the test appends a ZIP and its
// footer to contentexe.exe, starts the result, and checks what other programs see of it:
// its DeployedServers value, the single-instance mutex, its message window and
// notification icon, the icon's menu opened from the keyboard and the command that stops
// it, and the start page it serves; and a program packed with the author's icon and
// version texts, as Explorer reads them.
//
// Nothing here assumes how long a step takes: every state the runner reaches is polled
// for with a deadline (a brand-new Wine prefix makes the first start slow). The default
// browser is made harmless first: Wine hands http URLs to winebrowser, which starts the
// first program of its "Browsers" list; /bin/true takes the URL and ends at once.
// winsock2.h before windows.h, which would bring the older winsock.h.
#include <windows.h>
#include <winsock2.h>
// windows.h first: shellapi.h depends on it.
#include <imagehlp.h>
#include <shellapi.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/server_record.h"
#include "testing/png_builder.h"
#include "testing/test_client.h"
#include "testing/utf16_text.h"
#include "testing/zip_builder.h"

namespace {

using app::test::Utf16Le;

const wchar_t kServersKey[] = L"SOFTWARE\\Trellium\\DeployedServers";
const wchar_t kDesktop[] = L"cx-e2e";
const UINT kStopCommand = 2222, kIconMessage = 1579;

// Polls done every 100 ms until it holds or seconds pass; whether it held.
template <class Done>
bool WaitFor(Done done, DWORD seconds = 20) {
  for (DWORD start = GetTickCount();; Sleep(100)) {
    if (done()) return true;
    if (GetTickCount() - start > seconds * 1000) return false;
  }
}

std::string ReadAll(const std::wstring& path) {
  std::ostringstream out;
  out << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
  return out.str();
}

struct Process {
  PROCESS_INFORMATION info{};
  bool Running() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT; }
  DWORD WaitExit(DWORD milliseconds) {
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(info.hProcess, milliseconds) == WAIT_OBJECT_0) {
      GetExitCodeProcess(info.hProcess, &code);
    }
    return code;
  }
  void Close() {
    if (!info.hProcess) return;
    if (Running()) TerminateProcess(info.hProcess, 1), WaitExit(5000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
};

// The DeployedServers value of contentId; "" when there is none.
std::string ServerValue(uint32_t contentId) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kServersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  DWORD type = 0, size = 4096;
  std::string data(size, '\0');
  LONG status = RegQueryValueExW(key, std::to_wstring(contentId).c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(&data[0]), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_MULTI_SZ ? data.substr(0, size) : "";
}

// The first window of the class that processId owns, among the message-only windows
// (parent HWND_MESSAGE) or the top-level ones (parent null); visible ones only if asked.
HWND FindWindowOf(DWORD processId, HWND parent, const wchar_t* windowClass, bool visible = false) {
  for (HWND w = nullptr; (w = FindWindowExW(parent, w, windowClass, nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId && (!visible || IsWindowVisible(w))) return w;
  }
  return nullptr;
}

HWND FindServerWindow(DWORD processId) {
  return FindWindowOf(processId, HWND_MESSAGE, L"mrv.http2");
}

// The hidden top-level window that owns the notification icon and its menu.
HWND FindTrayWindow(DWORD processId) { return FindWindowOf(processId, nullptr, L"mrv.http2.tray"); }

// The runner's open pop-up menu (window class "#32768").
HWND FindOpenMenu(DWORD processId) { return FindWindowOf(processId, nullptr, L"#32768", true); }

// GET of an http://localhost:port/path URL; the status, or 0.
int HttpGet(const std::wstring& url, std::string& body) {
  std::string text(url.begin(), url.end());
  size_t path = text.find('/', 7);
  std::string answer =
      storage::test::Exchange(storage::test::PortOf(text.substr(0, path)),
                              "GET " + text.substr(path) + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  size_t end = answer.find("\r\n\r\n");
  body = end == std::string::npos ? "" : answer.substr(end + 4);
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

// Whether the shell holds a notification icon of window with id.
bool HasIcon(HWND window, UINT id = 0) {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = id;
  return Shell_NotifyIconW(NIM_MODIFY, &icon);
}

// The colour (0xRRGGBB) in the middle of icon's colour bitmap; ~0 when unreadable.
uint32_t MiddleColour(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return ~0u;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), bitmap.bmWidth, -bitmap.bmHeight, 1, 32, BI_RGB};
  std::vector<uint32_t> pixels(size_t(bitmap.bmWidth) * bitmap.bmHeight);
  HDC screen = GetDC(nullptr);
  int rows =
      GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  if (rows <= 0) return ~0u;
  return pixels[size_t(bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2] & 0xFFFFFF;
}

// The colour in the middle of the first large icon of file, as Explorer extracts it.
uint32_t ProgramIconColour(const std::wstring& file) {
  HICON large = nullptr;
  if (ExtractIconExW(file.c_str(), 0, &large, nullptr, 1) == 0) return ~0u;
  uint32_t colour = MiddleColour(large);
  DestroyIcon(large);
  return colour;
}

// A string of file's version resource (U.S. English, Unicode), "(none)" when missing.
std::wstring VersionString(const std::wstring& file, const std::wstring& name) {
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  std::vector<BYTE> data(size);
  void* text = nullptr;
  UINT units = 0;
  if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), (L"\\StringFileInfo\\040904b0\\" + name).c_str(), &text,
                      &units) ||
      !text) {
    return L"(none)";
  }
  return static_cast<const wchar_t*>(text);
}

class WindowsRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("CX_BINARY_DIR");
    std::wstring dir = binary ? std::wstring(binary, binary + strlen(binary)) : L".";
    if (!dir.empty() && dir[0] == L'/') dir = L"Z:" + dir;  // Unix paths through drive Z:
    stub_ = ReadAll(dir + L"/bin/contentexe.exe");
    bin_ = dir + L"/bin/";
    if (stub_.empty()) GTEST_SKIP() << "contentexe.exe not built";
    const wchar_t browsers[] = L"true";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", L"Browsers", REG_SZ,
                    browsers, sizeof browsers);
    RegDeleteKeyW(HKEY_CURRENT_USER, kServersKey);
    // The runner adds its icon once at start, and again only when a shell announces
    // "TaskbarCreated", which Wine's does not do when it comes up; and a shell that an
    // earlier program of the prefix started without a display (wineboot in a new one)
    // has no tray at all. So the runners run on a desktop of the test's own, whose shell
    // Wine starts for it with the test's display, and start once that shell's tray is up.
    static HDESK desktop = CreateDesktopW(kDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(desktop && SetThreadDesktop(desktop));
    GetDesktopWindow();
    ASSERT_TRUE(WaitFor([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }, 120))
        << "the shell's tray never came up";
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
    std::vector<amzip::testing::TestEntry> list;
    for (const auto& [entry, data] : entries) list.push_back({.name = entry, .data = data});
    std::string zip = amzip::testing::BuildZip(list).bytes;
    contentId = crc32(0, reinterpret_cast<const Bytef*>(zip.data()), static_cast<uInt>(zip.size()));
    std::string footer("KVLEXEFTR\0\0\0", 12);
    amzip::testing::Put32(footer, zip.size());
    std::wstring path = dir_ + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::ofstream(path.c_str(), std::ios::binary) << stub_ << zip << footer;
    files_.push_back(path);
    return path;
  }

  // exe with arguments (the packer too runs on the test's desktop).
  Process& Start(const std::wstring& exe, const std::wstring& arguments = L"") {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(kDesktop);
    processes_.emplace_back();
    EXPECT_TRUE(CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &processes_.back().info));
    return processes_.back();
  }

  // The value recorded for contentId, waited for; "" when none came.
  std::string WaitForRecord(uint32_t contentId) {
    std::string data;
    WaitFor([&] { return !(data = ServerValue(contentId)).empty(); });
    return data;
  }

  // The runner's window that owns the icon, waited for.
  HWND WaitForWindow(const Process& runner) {
    HWND window = nullptr;
    WaitFor([&] { return (window = FindTrayWindow(runner.info.dwProcessId)) != nullptr; });
    return window;
  }

  void StopFromTheMenu(Process& runner) {
    PostMessageW(WaitForWindow(runner), WM_COMMAND, kStopCommand, 0);
    EXPECT_EQ(runner.WaitExit(20000), 0u);
  }

  // The icon reports event (NOTIFYICON_VERSION_4: the event in the low word of lParam,
  // the anchor point in wParam); then the runner's menu is waited for.
  HWND OpenMenuWith(const Process& runner, HWND window, UINT event) {
    PostMessageW(window, kIconMessage, MAKEWPARAM(40, 40), MAKELPARAM(event, 0));
    HWND menu = nullptr;
    WaitFor([&] { return (menu = FindOpenMenu(runner.info.dwProcessId)) != nullptr; });
    return menu;
  }

  std::string stub_;
  std::wstring bin_, dir_;
  std::vector<std::wstring> files_;
  std::deque<Process> processes_;
};

const std::map<std::string, std::string> kDefaultBrowserContent = {
    {"index.html", "<html>WINDOWS-E2E</html>"},
    {".use_ie", Utf16Le(u"0")},
    {".caption", Utf16Le(u"Windows e2e")},
};

TEST_F(WindowsRunner, RecordsServesAndStopsFromTheMenuCommand) {
  uint32_t contentId = 0;
  Process& runner = Start(Make(L"cx-menu", kDefaultBrowserContent, contentId));
  std::string data = WaitForRecord(contentId);
  ASSERT_FALSE(data.empty()) << "no DeployedServers value " << contentId;
  app::ServerRecord record;
  ASSERT_TRUE(app::ParseServerRecord(app::RecordName(contentId), app::kRegMultiSz, data, record));
  EXPECT_EQ(record.processId, runner.info.dwProcessId);
  std::wstring url(record.url.begin(), record.url.end());
  ASSERT_EQ(url.rfind(L"http://localhost:", 0), 0u) << data;

  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Trellium-Exedeploy-Mutex");
  EXPECT_NE(mutex, nullptr);
  if (mutex) CloseHandle(mutex);

  std::string body;
  EXPECT_TRUE(WaitFor([&] { return HttpGet(url + L"index.html", body) == 200; }));
  EXPECT_EQ(body, "<html>WINDOWS-E2E</html>");

  EXPECT_NE(FindServerWindow(runner.info.dwProcessId), nullptr);
  HWND window = WaitForWindow(runner);
  ASSERT_NE(window, nullptr);
  // The shell knows the icon of the window: changing it succeeds only for an icon that
  // was added.
  EXPECT_TRUE(WaitFor([&] { return HasIcon(window); })) << "the runner added no icon";
  EXPECT_FALSE(HasIcon(window, 1));
  // When Explorer restarts, every icon is gone and "TaskbarCreated" is broadcast: the
  // runner adds its icon again.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  EXPECT_FALSE(HasIcon(window));
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                      SMTO_ABORTIFHUNG, 5000, &ignored);
  EXPECT_TRUE(WaitFor([&] { return HasIcon(window); }))
      << "the icon did not come back after TaskbarCreated";
  // Left clicks on the icon, the right-button release that comes before WM_CONTEXTMENU
  // and any other command leave it running without a menu (each is handled once the
  // send returns); "Stop content server" ends it.
  const struct {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
  } harmless[] = {{kIconMessage, 0, WM_LBUTTONUP},
                  {kIconMessage, 0, NIN_SELECT},
                  {kIconMessage, 0, WM_RBUTTONUP},
                  {WM_COMMAND, kStopCommand - 1, 0}};
  for (const auto& m : harmless) {
    EXPECT_TRUE(SendMessageTimeoutW(window, m.message, m.wparam, m.lparam, SMTO_ABORTIFHUNG, 20000,
                                    &ignored));
    EXPECT_EQ(runner.WaitExit(500), 0xDEADu) << "ended by message " << m.message;
    EXPECT_EQ(FindOpenMenu(runner.info.dwProcessId), nullptr) << "menu from " << m.lparam;
  }
  StopFromTheMenu(runner);
  EXPECT_EQ(ServerValue(contentId), "");
  EXPECT_EQ(FindServerWindow(runner.info.dwProcessId), nullptr);
}

// The context-menu key (or Shift+F10) and Enter/Space at the focused icon open the menu;
// Escape closes it and the server goes on; Down and Enter choose "Stop content server".
TEST_F(WindowsRunner, KeyboardOpensTheMenuAndChoosesItsCommand) {
  uint32_t contentId = 0;
  Process& runner = Start(Make(L"cx-keys", kDefaultBrowserContent, contentId));
  ASSERT_FALSE(WaitForRecord(contentId).empty());
  HWND window = WaitForWindow(runner);
  ASSERT_TRUE(WaitFor([&] { return HasIcon(window); }));

  HWND menu = OpenMenuWith(runner, window, WM_CONTEXTMENU);
  ASSERT_NE(menu, nullptr) << "WM_CONTEXTMENU opened no menu";
  PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(WaitFor([&] { return !FindOpenMenu(runner.info.dwProcessId); }));
  EXPECT_EQ(runner.WaitExit(500), 0xDEADu) << "Escape stopped the server";

  menu = OpenMenuWith(runner, window, NIN_KEYSELECT);
  ASSERT_NE(menu, nullptr) << "NIN_KEYSELECT opened no menu";
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(runner.WaitExit(20000), 0u);
  EXPECT_EQ(ServerValue(contentId), "");
}

// Packed with --icon (a PNG), --name, --version and --company: Explorer's calls read them
// back, everything else of the runner's version resource stays, the name is the caption,
// and the program still finds its settings branch (its record) and serves.
TEST_F(WindowsRunner, BrandedProgramShowsTheAuthorsIconAndTextsAndServes) {
  std::wstring site = dir_ + L"cx-brand-site-" + std::to_wstring(GetCurrentProcessId());
  std::wstring png = site + L".png", exe = site + L".exe";
  CreateDirectoryW(site.c_str(), nullptr);
  std::ofstream((site + L"\\index.html").c_str(), std::ios::binary) << "<html>BRANDED</html>";
  std::vector<uint8_t> red = pack::testing::SolidPng(48, 0xFF, 0, 0);
  std::ofstream(png.c_str(), std::ios::binary)
      .write(reinterpret_cast<const char*>(red.data()), std::streamsize(red.size()));
  files_.insert(files_.end(), {site + L"\\index.html", png, exe});
  ASSERT_NE(ProgramIconColour(bin_ + L"contentexe.exe"), 0xFF0000u);

  EXPECT_EQ(Start(bin_ + L"contentexe-pack.exe",
                  L"\"" + site + L"\" -o \"" + exe + L"\" --use-ie 0 --icon \"" + png +
                      L"\" --name \"Atlas \u00e9t\u00e9\" --version 2.5.1 --company Acme")
                .WaitExit(60000),
            0u);
  EXPECT_EQ(ProgramIconColour(exe), 0xFF0000u);
  EXPECT_EQ(VersionString(exe, L"FileDescription"), L"Atlas \u00e9t\u00e9");
  EXPECT_EQ(VersionString(exe, L"ProductName"), L"Atlas \u00e9t\u00e9");
  EXPECT_EQ(VersionString(exe, L"FileVersion"), L"2.5.1");
  EXPECT_EQ(VersionString(exe, L"ProductVersion"), L"2.5.1");
  EXPECT_EQ(VersionString(exe, L"CompanyName"), L"Acme");
  EXPECT_EQ(VersionString(exe, L"RegistryBranch"), L"Trellium");
  EXPECT_EQ(VersionString(exe, L"InternalName"), L"contentexe");
  EXPECT_EQ(VersionString(exe, L"OriginalFilename"), L"Atlas \u00e9t\u00e9.exe");
  // The header checksum covers the whole file, the content included.
  DWORD headerSum = 0, computedSum = 0;
  EXPECT_EQ(MapFileAndCheckSumW(exe.c_str(), &headerSum, &computedSum), 0u);
  EXPECT_EQ(headerSum, computedSum);
  EXPECT_NE(headerSum, 0u);

  // The archive lies before the 16-byte footer, which ends with its length.
  std::string program = ReadAll(exe);
  ASSERT_GT(program.size(), stub_.size() / 2);
  uint32_t length = 0;
  std::memcpy(&length, program.data() + program.size() - 4, 4);
  ASSERT_LE(length, program.size() - 16);
  std::string zip = program.substr(program.size() - 16 - length, length);
  EXPECT_NE(zip.find(".caption"), std::string::npos);
  EXPECT_NE(zip.find(Utf16Le(u"Atlas \u00e9t\u00e9")), std::string::npos);
  uint32_t contentId =
      crc32(0, reinterpret_cast<const Bytef*>(zip.data()), static_cast<uInt>(zip.size()));

  Process& runner = Start(exe);
  std::string data = WaitForRecord(contentId);
  ASSERT_FALSE(data.empty()) << "the branded program recorded no server";
  app::ServerRecord record;
  ASSERT_TRUE(app::ParseServerRecord(app::RecordName(contentId), app::kRegMultiSz, data, record));
  std::string body;
  EXPECT_EQ(HttpGet(std::wstring(record.url.begin(), record.url.end()) + L"index.html", body), 200);
  EXPECT_EQ(body, "<html>BRANDED</html>");
  StopFromTheMenu(runner);
  RemoveDirectoryW(site.c_str());
}

// A .ico of two solid 32-bit bitmaps: 16 pixels in colour small, 48 in colour large
// (0xRRGGBB).
std::string TwoSizeIco(uint32_t small, uint32_t large) {
  std::string images, directory("\0\0\1\0\2\0", 6);
  auto add32 = [](std::string& to, uint32_t v) {
    for (int i = 0; i < 4; ++i) to += char(v >> 8 * i);
  };
  for (auto [size, colour] : {std::pair{16u, small}, std::pair{48u, large}}) {
    std::string dib;
    for (uint32_t v : {40u, size, 2 * size, 0x00200001u, 0u, 0u, 0u, 0u, 0u, 0u}) add32(dib, v);
    for (uint32_t i = 0; i < size * size; ++i) add32(dib, 0xFF000000u | colour);
    dib += std::string(size * 4 * ((size + 31) / 32), '\0');  // the mask: all shown
    directory += {char(size), char(size), 0, 0, 1, 0, 32, 0};
    add32(directory, uint32_t(dib.size()));
    add32(directory, uint32_t(6 + 32 + images.size()));
    images += dib;
  }
  return directory + images;
}

// The icon of the notification area, from a 16-bit PNG, a palette PNG and a two-size .ico:
// the packed program's icon group holds an image of exactly 16 by 16 (so the system does
// not scale one itself), the runner's small icon is that image (the picture's colour in
// the middle; the .ico's own 16 by 16, not its 48 scaled), and the shell took the icon.
TEST_F(WindowsRunner, PackedIconsReachTheNotificationArea) {
  std::wstring site = dir_ + L"cx-icon-site-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(site.c_str(), nullptr);
  std::ofstream((site + L"\\index.html").c_str(), std::ios::binary) << "<html>ICON</html>";
  files_.push_back(site + L"\\index.html");
  auto bytes = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  const struct {
    const wchar_t* name;
    std::string file;
    uint32_t colour;
  } pictures[] = {
      {L"png16.png", bytes(pack::testing::DiscPng16(64, 0xFF, 0, 0)), 0xFF0000},
      {L"palette.png", bytes(pack::testing::DiscPngPalette(61, 0, 0, 0xFF)), 0x0000FF},
      {L"two.ico", TwoSizeIco(0x00FF00, 0xFF00FF), 0x00FF00},
  };
  for (const auto& picture : pictures) {
    std::wstring icon = site + L"-" + picture.name, exe = icon + L".exe";
    std::ofstream(icon.c_str(), std::ios::binary) << picture.file;
    files_.insert(files_.end(), {icon, exe});
    ASSERT_EQ(Start(bin_ + L"contentexe-pack.exe",
                    L"\"" + site + L"\" -o \"" + exe + L"\" --force --icon \"" + icon + L"\"")
                  .WaitExit(60000),
              0u)
        << "packing with " << picture.name;

    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
    int id = LookupIconIdFromDirectoryEx(directory, TRUE, 16, 16, LR_DEFAULTCOLOR);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
    ASSERT_NE(image, nullptr);
    auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
    EXPECT_EQ(header->biWidth, 16) << "an image drawn for 16 by 16";
    EXPECT_EQ(header->biBitCount, 32);
    HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    EXPECT_EQ(MiddleColour(small), picture.colour) << picture.name;
    if (small) DestroyIcon(small);
    FreeLibrary(module);

    Process& runner = Start(exe);
    HWND window = WaitForWindow(runner);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitFor([&] { return HasIcon(window); })) << "no notification icon";
    StopFromTheMenu(runner);
  }
  RemoveDirectoryW(site.c_str());
}

TEST_F(WindowsRunner, SecondStartUsesTheRunningServerAndEndsWithZero) {
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-twice", kDefaultBrowserContent, contentId);
  Process& first = Start(exe);
  std::string data = WaitForRecord(contentId);
  ASSERT_FALSE(data.empty());
  Process& second = Start(exe);
  EXPECT_EQ(second.WaitExit(20000), 0u);
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(ServerValue(contentId), data);  // still the first process's record
  StopFromTheMenu(first);
}

// Without .use_ie the start page goes to Internet Explorer; where its launcher cannot
// be loaded the default browser takes the page, and the server keeps running.
TEST_F(WindowsRunner, MissingInternetExplorerFallsBackToTheDefaultBrowser) {
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-ie", {{"index.html", "<html>IE</html>"}}, contentId);
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"ieframe=d;mscoree,mshtml=");
  Process& runner = Start(exe);
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", nullptr);
  ASSERT_FALSE(WaitForRecord(contentId).empty());
  // The browser start follows the record; a runner that ended over it would do so now.
  EXPECT_EQ(runner.WaitExit(2000), 0xDEADu);
  StopFromTheMenu(runner);
}

// The port of the server recorded for contentId; 0 when none is.
int RecordedPort(const std::string& data, uint32_t contentId) {
  app::ServerRecord record;
  if (!app::ParseServerRecord(app::RecordName(contentId), app::kRegMultiSz, data, record)) return 0;
  std::string url(record.url.begin(), record.url.end());
  return storage::test::PortOf(url.substr(0, url.find('/', 7)));
}

// Without a fixed port the content asks for the port it had last time: the origin of
// its pages, and what they stored, stay from one run to the next.
TEST_F(WindowsRunner, TwoStartsInARowRecordTheSamePort) {
  uint32_t contentId = 0;
  std::wstring exe = Make(
      L"cx-port", {{"index.html", "<html>PORT</html>"}, {".use_ie", Utf16Le(u"0")}}, contentId);
  int ports[2] = {0, 0};
  for (int& port : ports) {
    Process& runner = Start(exe);
    port = RecordedPort(WaitForRecord(contentId), contentId);
    EXPECT_GT(port, 0);
    StopFromTheMenu(runner);
  }
  EXPECT_EQ(ports[0], ports[1]);
  DWORD remembered = 0, size = sizeof remembered;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Trellium\\Ports",
                         std::to_wstring(contentId).c_str(), RRF_RT_REG_DWORD, nullptr, &remembered,
                         &size),
            ERROR_SUCCESS);
  EXPECT_EQ(static_cast<int>(remembered), ports[0]);
}

// Adds a child window's text to the std::wstring at `all` (an EnumChildWindows callback).
BOOL CALLBACK AppendWindowText(HWND child, LPARAM all) {
  wchar_t text[1024] = L"";
  GetWindowTextW(child, text, 1024);
  *reinterpret_cast<std::wstring*>(all) += text;
  return TRUE;
}

// A fixed port that another program holds: a message box says so, and once it is
// closed the start ends with -1 and leaves no record.
TEST_F(WindowsRunner, HeldFixedPortIsShownAndTheStartFails) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(holder, 4), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  uint32_t contentId = 0;
  std::u16string portText(port.begin(), port.end());
  Process& runner =
      Start(Make(L"cx-held", {{"index.html", "HELD"}, {".port", Utf16Le(portText)}}, contentId));
  std::wstring said,
      expected = L"port " + std::wstring(port.begin(), port.end()) + L" is used by another program";
  // The texts of the box's controls (the message and the buttons), once the message is in.
  HWND box = nullptr;
  const auto collect = [&] {
    said.clear();
    if (!(box = FindWindowOf(runner.info.dwProcessId, nullptr, L"#32770"))) return false;
    EnumChildWindows(box, AppendWindowText, reinterpret_cast<LPARAM>(&said));
    return said.find(expected) != std::wstring::npos;
  };
  EXPECT_TRUE(WaitFor(collect)) << "no message box with the port: "
                                << std::string(said.begin(), said.end());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(runner.WaitExit(500), 0xDEADu) << "ended before the message was closed";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(runner.WaitExit(20000), 0xFFFFFFFFu);
  EXPECT_EQ(ServerValue(contentId), "");
  closesocket(holder);
}

// Task Manager's "End task" (WM_CLOSE to the program's window), and log-off or
// shut-down (WM_QUERYENDSESSION, WM_ENDSESSION): the server stops, its record goes (for
// the session's end before the message returns), and the exit code is 0.
TEST_F(WindowsRunner, EndedFromOutsideStopsCleanly) {
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-end", kDefaultBrowserContent, contentId);
  Process& closed = Start(exe);
  ASSERT_FALSE(WaitForRecord(contentId).empty());
  PostMessageW(WaitForWindow(closed), WM_CLOSE, 0, 0);
  EXPECT_EQ(closed.WaitExit(20000), 0u);
  EXPECT_EQ(ServerValue(contentId), "");

  Process& loggedOff = Start(exe);
  ASSERT_FALSE(WaitForRecord(contentId).empty());
  HWND window = WaitForWindow(loggedOff);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                  SMTO_ABORTIFHUNG, 20000, &answer));
  EXPECT_EQ(answer, TRUE) << "the runner refused the session's end";
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                  20000, &answer));
  EXPECT_EQ(ServerValue(contentId), "") << "the record outlived WM_ENDSESSION";
  EXPECT_EQ(loggedOff.WaitExit(20000), 0u);
}

// Copies of one content started at the same moment: one serves, every other hands over
// and ends with 0. CX_INSTANCE_TRIALS sets the number of trials (the figure: 20).
TEST_F(WindowsRunner, SimultaneousStartsGiveOneServer) {
  const char* trialsVariable = std::getenv("CX_INSTANCE_TRIALS");
  const int trials = trialsVariable ? std::atoi(trialsVariable) : 1, copies = 10;
  uint32_t contentId = 0;
  std::wstring exe = Make(L"cx-many", kDefaultBrowserContent, contentId);
  int single = 0;
  for (int trial = 0; trial < trials; ++trial) {
    size_t first = processes_.size();
    for (int i = 0; i < copies; ++i) Start(exe);
    auto running = [&] {
      int n = 0;
      for (size_t i = first; i < processes_.size(); ++i) n += processes_[i].Running();
      return n;
    };
    // The starts that hand over end; those that serve stay.
    WaitFor([&] { return running() <= 1 && !ServerValue(contentId).empty(); }, 60);
    int serving = running();
    EXPECT_EQ(serving, 1) << "trial " << trial << ": servers";
    single += serving == 1;
    for (size_t i = first; i < processes_.size(); ++i) {
      if (processes_[i].Running()) {
        StopFromTheMenu(processes_[i]);
      } else {
        EXPECT_EQ(processes_[i].WaitExit(0), 0u) << "trial " << trial;
      }
    }
    EXPECT_EQ(ServerValue(contentId), "");
  }
  std::printf("simultaneous starts: %d of %d trials gave one server\n", single, trials);
}

}  // namespace
