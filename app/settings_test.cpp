#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "app/settings_internal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#endif

namespace settings {
namespace {

// The store under test, written the way a user (or an installer) would: reg.exe on
// Windows (Wine ships it), the settings file on POSIX.
#ifdef _WIN32
const char kKey[] = "HKCU\\SOFTWARE\\Trellium\\Expert";

void Reg(const std::string& args) { std::system(("reg " + args + " >NUL 2>&1").c_str()); }
void Add(const std::string& name, const std::string& typeAndData) {
  Reg("add " + std::string(kKey) + " /v " + name + " /t " + typeAndData + " /f");
}
void SetDword(const std::string& name, uint32_t v) {
  Add(name, "REG_DWORD /d " + std::to_string(v));
}
void SetText(const std::string& name, const std::string& text) { Add(name, "REG_SZ /d " + text); }
void Remove(const std::string& name) { Reg("delete " + std::string(kKey) + " /v " + name + " /f"); }
#else
std::map<std::string, std::string> lines;  // name -> the text after "="
std::string configHome;

// The file has no types; a quoted text stands for a string value. No text: removed.
void Set(const std::string& name, const std::string& text) {
  text.empty() ? void(lines.erase(name)) : void(lines[name] = text);
  std::filesystem::create_directories(configHome + "/Trellium");
  std::ofstream out(configHome + "/Trellium/Expert", std::ios::trunc);
  for (auto& [line, value] : lines) out << line << "=" << value << "\n";
}
void SetDword(const std::string& name, uint32_t v) { Set(name, std::to_string(v)); }
void SetText(const std::string& name, const std::string& text) { Set(name, '"' + text + '"'); }
void Remove(const std::string& name) { Set(name, ""); }
#endif

class SettingsStore : public ::testing::Test {
 protected:
#ifndef _WIN32
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/cx-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    configHome = tmpl;
    setenv("XDG_CONFIG_HOME", tmpl, 1);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(configHome); }
#endif
};

// Numbers follow the store at every call; switches are fixed at their first query.
TEST_F(SettingsStore, NumbersFollowTheStoreSwitchesTheFirstQuery) {
  Remove("CxTestPort");
  EXPECT_EQ(GetDwordSetting(u"CxTestPort", 77), 77u);
  SetDword("CxTestPort", 0);
  EXPECT_EQ(GetDwordSetting(u"CxTestPort", 77), 0u);
  EXPECT_FALSE(IsSwitchOn(u"CxTestPort"));
  SetDword("CxTestPort", 5);
  EXPECT_EQ(GetDwordSetting(u"CxTestPort", 77), 5u);
  EXPECT_FALSE(IsSwitchOn(u"CxTestPort"));  // set too late
  Remove("CxTestPort");
  SetDword("CxTestMaxAge", 300);
  EXPECT_TRUE(IsSwitchOn(u"CxTestMaxAge"));
  Remove("CxTestMaxAge");
  EXPECT_TRUE(IsSwitchOn(u"CxTestMaxAge"));  // still on for this run
  EXPECT_EQ(GetDwordSetting(u"CxTestMaxAge", 77), 77u);

  SetText("CxTestText", "5");  // other types count as absent
  EXPECT_EQ(GetDwordSetting(u"CxTestText", 42), 42u);
  EXPECT_FALSE(IsSwitchOn(u"CxTestText"));
  Remove("CxTestText");
#ifdef _WIN32
  for (const char* type : {"REG_QWORD /d 5", "REG_BINARY /d 05000000"}) {
    Add("CxTestOther", type);
    EXPECT_EQ(GetDwordSetting(u"CxTestOther", 42), 42u) << type;
  }
  Remove("CxTestOther");
#else
  // Without a usable $XDG_CONFIG_HOME the file is looked for under $HOME/.config.
  std::string home = configHome + "/home";
  std::filesystem::create_directories(home + "/.config/Trellium");
  std::ofstream(home + "/.config/Trellium/Expert") << "CxTestHome = 0x10\n";
  std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(GetDwordSetting(u"CxTestHome", 1), 16u);
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // ignored, as the XDG rules say
  EXPECT_EQ(GetDwordSetting(u"CxTestHome", 1), 16u);
  setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
  EXPECT_EQ(GetDwordSetting(u"CxTestHome", 1), 1u);
  setenv("HOME", savedHome.c_str(), 1);
#endif
}

// A followed number sees every change at once, yet reads the store only after a change.
TEST_F(SettingsStore, FollowedNumbersSeeChangesAtOnce) {
  Remove("CxTestAge");
  FollowedDword age(u"CxTestAge", 77);
  EXPECT_EQ(age.Get(), 77u);
  for (uint32_t value : {300u, 600u, 0u}) {
    SetDword("CxTestAge", value);
    EXPECT_EQ(age.Get(), value);
  }
  Remove("CxTestAge");
  EXPECT_EQ(age.Get(), 77u);
#ifndef _WIN32
  // Once the file's time has settled, a rewrite that keeps its size and time goes unseen
  // (the store is not read again); any other time is seen.
  const std::string file = configHome + "/Trellium/Expert";
  SetDword("CxTestAge", 300);
  const auto settled = std::filesystem::last_write_time(file) - std::chrono::hours(1);
  std::filesystem::last_write_time(file, settled);
  EXPECT_EQ(age.Get(), 300u);
  SetDword("CxTestAge", 600);
  std::filesystem::last_write_time(file, settled);
  EXPECT_EQ(age.Get(), 300u) << "read again although nothing told of a change";
  std::filesystem::last_write_time(file, settled + std::chrono::minutes(1));
  EXPECT_EQ(age.Get(), 600u);
  Remove("CxTestAge");
  EXPECT_EQ(age.Get(), 77u);
#endif
}

#ifdef _WIN32
TEST_F(SettingsStore, VersionStringsOfASystemLibrary) {
  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::u16string path(reinterpret_cast<const char16_t*>(system), n);
  path += u"\\kernel32.dll";
  std::map<std::u16string, std::u16string> names{
      {u"CompanyName", u"stale"}, {u"FileVersion", u""}, {u"RegistryBranch", u"stale"}};
  EXPECT_EQ(ReadVersionStrings(path, names), 2);
  EXPECT_FALSE(names[u"CompanyName"].empty());
  EXPECT_FALSE(names[u"FileVersion"].empty());
  EXPECT_EQ(names[u"RegistryBranch"], u"");
  EXPECT_EQ(ReadVersionString(u"CompanyName", path), names[u"CompanyName"]);
  std::map<std::u16string, std::u16string> none{{u"CompanyName", u"stale"}};
  EXPECT_EQ(ReadVersionStrings(u"C:\\no\\such\\file.dll", none), 0);
  EXPECT_EQ(none[u"CompanyName"], u"");
}
#endif

// What the program keeps between runs (a content's last port) reads back, one value per
// name, and leaves the user's settings alone.
TEST_F(SettingsStore, StoredValuesReadBackAndKeepEachOther) {
  const std::u16string key = u"CxTestKept";
#ifdef _WIN32
  Reg("delete HKCU\\SOFTWARE\\Trellium\\CxTestKept /f");  // left by an earlier run
#endif
  EXPECT_EQ(GetStoredDword(key, u"1234", 7), 7u);
  ASSERT_TRUE(SetStoredDword(key, u"1234", 50000));
  ASSERT_TRUE(SetStoredDword(key, u"99", 51000));
  ASSERT_TRUE(SetStoredDword(key, u"1234", 50001));
  EXPECT_EQ(GetStoredDword(key, u"1234", 7), 50001u);
  EXPECT_EQ(GetStoredDword(key, u"99", 7), 51000u);
  EXPECT_EQ(GetStoredDword(key, u"12", 7), 7u);
  EXPECT_EQ(GetDwordSetting(u"1234", 7), 7u);  // not a setting
}

TEST(SettingsFile, DwordValues) {
  EXPECT_EQ(ParseDword("0"), 0u);
  EXPECT_EQ(ParseDword("4294967295"), 4294967295u);
  EXPECT_EQ(ParseDword("0XfF"), 255u);
  EXPECT_EQ(ParseDword("007"), 7u);
  for (const char* text : {"", "0x", "-1", "4294967296", "0x100000000", "1 2"}) {
    EXPECT_EQ(ParseDword(text), std::nullopt) << text;
  }
}

TEST(SettingsFile, LinesCommentsAndNames) {
  const char text[] =
      "# HttpPort=1\n  HttpPort = 8080 \r\n\tdict_debug\t=\t0x1\nnoequals\n"
      "Dup=1\nDup=2\nBad=3\nBad=x\nLast=7";
  EXPECT_EQ(FindDword(text, "HttpPort"), 8080u);
  EXPECT_EQ(FindDword(text, "dict_debug"), 1u);
  EXPECT_EQ(FindDword(text, "httpport"), std::nullopt);  // names are exact
  EXPECT_EQ(FindDword(text, "noequals"), std::nullopt);
  EXPECT_EQ(FindDword(text, "Dup"), 2u);  // the last line counts, even when it is no number
  EXPECT_EQ(FindDword(text, "Bad"), std::nullopt);
  EXPECT_EQ(FindDword(text, "Last"), 7u);
}

TEST(SettingsFile, SetDwordLineRewritesTheLineThatCountsAndKeepsTheRest) {
  EXPECT_EQ(SetDwordLine("", "A", 5), "A=5\n");
  EXPECT_EQ(SetDwordLine("# c\nA=1\nB=2", "C", 3), "# c\nA=1\nB=2\nC=3\n");
  EXPECT_EQ(SetDwordLine("A=1\r\n  A = 2\r\nAB=4\n# A=9\n", "A", 7), "A=1\r\nA=7\nAB=4\n# A=9\n");
  for (const char* text : {"", "A=x", "A=1\nA=2", "#A=1", "B=1\r\nA=3\r\n"}) {
    std::string updated = SetDwordLine(text, "A", 4242);
    EXPECT_EQ(FindDword(updated, "A"), 4242u) << text;
    EXPECT_EQ(FindDword(updated, "B"), FindDword(text, "B")) << text;
  }
}

}  // namespace
}  // namespace settings
