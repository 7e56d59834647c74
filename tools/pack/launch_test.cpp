#include "tools/pack/launch.h"

#include <gtest/gtest.h>

#include "contentexe_version.h"
#include "testing/pack_util.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pack {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::ReadText;
using testing::RunShell;
using testing::WriteText;

const fs::path kPacker = testing::BuiltProgram("contentexe-pack");
const fs::path kRunner = testing::BuiltProgram("contentexe");

// The first bytes of a PE program for machine: enough for PeMachine.
std::string PeHead(uint16_t machine) {
  std::string bytes(0x100, '\0');
  bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x80;
  bytes.replace(0x80, 4, std::string("PE\0\0", 4));
  bytes[0x84] = static_cast<char>(machine & 0xFF), bytes[0x85] = static_cast<char>(machine >> 8);
  return bytes;
}

TEST(Launch, RunnerBesideThePackerFollowsArchAndName) {
  testing::TempDir dir;
  std::string error;
  auto pick = [&](bool windows, Arch arch) {
    error.clear();
    return RunnerBeside(dir.path(), windows, arch, error).filename().string();
  };
  EXPECT_EQ("", pick(true, Arch::kAny));
  EXPECT_NE(std::string::npos, error.find("contentexe-x64.exe")) << error;
  EXPECT_NE(std::string::npos, error.find("--stub")) << error;
  // A build folder: contentexe.exe, used when it fits the asked architecture.
  WriteText(dir / "contentexe.exe", PeHead(0x14c));
  EXPECT_EQ("contentexe.exe", pick(true, Arch::kAny));
  EXPECT_EQ("contentexe.exe", pick(true, Arch::kX86));
  EXPECT_EQ("", pick(true, Arch::kX64));
  EXPECT_NE(std::string::npos, error.find("another architecture")) << error;
  // A release folder: the named runners win.
  WriteText(dir / "contentexe-x64.exe", PeHead(0x8664));
  WriteText(dir / "contentexe-x86.exe", PeHead(0x14c));
  EXPECT_EQ("contentexe-x64.exe", pick(true, Arch::kAny));
  EXPECT_EQ("contentexe-x64.exe", pick(true, Arch::kX64));
  EXPECT_EQ("contentexe-x86.exe", pick(true, Arch::kX86));
  // Another packer: its own runner, or the Windows one asked for.
  EXPECT_EQ("", pick(false, Arch::kAny));
  EXPECT_NE(std::string::npos, error.find("contentexe\"")) << error;
  WriteText(dir / "contentexe", "\x7f" "ELF");
  EXPECT_EQ("contentexe", pick(false, Arch::kAny));
  EXPECT_EQ("contentexe-x86.exe", pick(false, Arch::kX86));

  const std::string head = PeHead(0x8664);
  EXPECT_EQ(0x8664, PeMachine(std::vector<uint8_t>(head.begin(), head.end())));
  EXPECT_EQ(0, PeMachine({'M', 'Z'}));
  EXPECT_EQ(Arch::kX86, ParseArch("x86"));
  EXPECT_EQ(Arch::kX64, ParseArch("x64"));
  EXPECT_FALSE(ParseArch("arm64"));
}

// A dropped folder becomes FOLDER.exe beside it, then FOLDER (2).exe: nothing is ever
// overwritten. The text names the output and its entries, or the error.
TEST(Launch, DroppedFolderPacksBesideItWithoutOverwriting) {
  testing::TempDir dir;
  const fs::path probe = testing::BuiltProgram("locator_probe");
  ASSERT_TRUE(fs::exists(probe)) << probe;
  WriteText(dir / "my site" / "index.html", "<!doctype html><title>t</title>");
  WriteText(dir / "my site" / "a.css", "body{}");
  WriteText(dir / "my site.exe", "the author's own file");

  DropResult first = PackDropped(dir / "my site", probe, nullptr);
  ASSERT_TRUE(first.ok) << first.text;
  EXPECT_EQ(dir / "my site (2).exe", first.output);
  EXPECT_EQ("the author's own file", ReadText(dir / "my site.exe"));
  EXPECT_NE(std::string::npos, first.text.find("my site (2).exe")) << first.text;
  EXPECT_NE(std::string::npos, first.text.find(" entries, ")) << first.text;
  EXPECT_EQ(std::string::npos, first.text.find("Warnings")) << first.text;

  fs::remove(dir / "my site" / "index.html");
  DropResult second = PackDropped(dir / "my site/", probe, nullptr);
  ASSERT_TRUE(second.ok) << second.text;
  EXPECT_EQ(dir / "my site (3).exe", second.output);
  EXPECT_NE(std::string::npos, second.text.find("Warnings:\n- ")) << second.text;

  EXPECT_EQ(dir / "pages.exe", DropOutput(dir / "pages.zip"));
  DropResult failed = PackDropped(dir / "my site", dir / "my site.exe", nullptr);
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(std::string::npos, failed.text.find("Nothing was written")) << failed.text;
  EXPECT_FALSE(fs::exists(dir / "my site (4).exe"));
}

// Both programs say which version and commit they are; the packer's --version with a
// value still brands.
TEST(Launch, VersionAndArchOnTheCommandLine) {
#ifdef _WIN32
  // A console program's output read through _popen's cmd can wait for ever under Wine; the
  // Windows programs' versions are checked in their resources below.
  GTEST_SKIP() << "command lines run through a POSIX shell only";
#endif
  const std::string version = std::string(CX_VERSION_TEXT) + " (commit " CX_VERSION_COMMIT ")";
  auto packer = RunShell(Quoted(kPacker) + " --version");
  EXPECT_EQ(0, packer.status);
  EXPECT_EQ("contentexe-pack " + version, packer.output.substr(0, packer.output.find_first_of("\r\n")));
#ifndef _WIN32
  // (The Windows runner is a GUI program: cmd under Wine gives it no output to write to.)
  auto runner = RunShell(Quoted(kRunner) + " --version");
  EXPECT_EQ(0, runner.status);
  EXPECT_EQ("contentexe " + version, runner.output.substr(0, runner.output.find_first_of("\r\n")));
#endif
  EXPECT_NE(std::string(CX_VERSION_COMMIT), "unknown");

  auto bad = RunShell(Quoted(kPacker) + " site -o out --arch arm64");
  EXPECT_EQ(2, bad.status);
  EXPECT_NE(std::string::npos, bad.output.find("x64 or x86")) << bad.output;
#ifndef _WIN32
  // A packer with the Windows runners beside it, as in a release folder: --arch picks one.
  testing::TempDir dir;
  fs::copy_file(kPacker, dir / "contentexe-pack");
  fs::copy_file(testing::BuiltProgram("locator_probe"), dir / "contentexe-x86.exe");
  WriteText(dir / "site" / "index.html", "<p>hi</p>");
  auto packed = RunShell(Quoted(dir / "contentexe-pack") + " " + Quoted(dir / "site") + " -o " +
                         Quoted(dir / "out.exe") + " --arch x86");
  EXPECT_EQ(0, packed.status) << packed.output;
  auto missing = RunShell(Quoted(dir / "contentexe-pack") + " " + Quoted(dir / "site") + " -o " +
                          Quoted(dir / "out2") + " --arch x64");
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.output.find("contentexe-x64.exe")) << missing.output;
#endif
}

#ifdef _WIN32
std::wstring VersionString(const fs::path& file, const std::wstring& name) {
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  std::vector<char> data(size);
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), (L"\\StringFileInfo\\040904b0\\" + name).c_str(),
                      reinterpret_cast<void**>(&value), &length))
    return L"";
  return std::wstring(value, length ? length - 1 : 0);
}

bool HasManifest(const fs::path& file) {
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  bool found = module && FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  if (module) FreeLibrary(module);
  return found;
}

// The Windows programs show the same version in Explorer as on the command line, and
// the packer has a manifest like the runner.
TEST(Launch, VersionResourcesCarryTheBuildsVersion) {
  std::string text = CX_VERSION_TEXT;
  std::wstring version(text.begin(), text.end());
  EXPECT_EQ(version, VersionString(kPacker, L"FileVersion"));
  EXPECT_EQ(version, VersionString(kRunner, L"FileVersion"));
  EXPECT_EQ(L"contentexe-pack.exe", VersionString(kPacker, L"OriginalFilename"));
  EXPECT_TRUE(HasManifest(kPacker));
  EXPECT_TRUE(HasManifest(kRunner));
}

struct FoundBox {
  DWORD process;
  HWND box = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<FoundBox*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (owner == found->process && std::wstring(cls) == L"#32770" && IsWindowVisible(window)) {
    found->box = window;
    return FALSE;
  }
  return TRUE;
}

// Started the way Explorer starts it for a dropped folder (the folder as only argument,
// a console of its own), the packer writes FOLDER.exe and shows a message box with the
// result, which stays until closed.
TEST(Launch, FolderDroppedOnThePackerShowsItsResult) {
  testing::TempDir dir;
  WriteText(dir / "site" / "index.html", "<!doctype html><title>t</title>");
  std::wstring command = L"\"" + kPacker.wstring() + L"\" \"" + (dir / "site").wstring() + L"\"";
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(kPacker.wstring().c_str(), command.data(), nullptr, nullptr, FALSE,
                             CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi));
  FoundBox found{pi.dwProcessId};
  for (DWORD start = GetTickCount(); !found.box && GetTickCount() - start < 60000;) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
    if (!found.box) Sleep(100);
  }
  std::wstring text(4096, L'\0');
  if (found.box) text.resize(GetDlgItemTextW(found.box, 0xFFFF, text.data(), 4096));
  if (found.box) PostMessageW(found.box, WM_COMMAND, IDOK, 0);
  DWORD waited = WaitForSingleObject(pi.hProcess, 30000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_TRUE(found.box) << "no message box from the packer within 60 s";
  EXPECT_EQ(WAIT_OBJECT_0, waited) << "the packer did not end when its message box closed";
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(fs::exists(dir / "site.exe"));
  EXPECT_NE(std::wstring::npos, text.find(L"site.exe")) << text;
  EXPECT_NE(std::wstring::npos, text.find(L" entries, ")) << text;
}
#endif

}  // namespace
}  // namespace pack
