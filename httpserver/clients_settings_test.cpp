// The HttpMaxAge setting as the real runner reads it: a runner with its own settings file
// ($XDG_CONFIG_HOME/Trellium/Expert), and curl reading "Cache-Control" as the file
// changes while the runner serves. (When the switch turns on is checked in settings_test.)
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "testing/clients_fixture.h"
#include "testing/runner_e2e.h"

namespace storage::clients {
namespace {

TEST(MaxAgeSetting, OnAtTheFirstResponseFollowsTheFile) {
  const std::string runner = e2e::BinaryDir() + "/bin/contentexe";
  const std::string packer = e2e::BinaryDir() + "/bin/contentexe-pack";
  if (!e2e::FileExists(runner) || !e2e::FileExists(packer)) GTEST_SKIP() << "no runner";
  if (!HaveCommand("curl")) GTEST_SKIP() << "curl not installed";
  const std::string dir = MakeTempDir(), setting = dir + "/config/Trellium/Expert";
  WriteFile(dir + "/src/page.txt", "a page");
  std::string err;
  ASSERT_EQ(e2e::Run({packer, dir + "/src", "-o", dir + "/content", "--force"}, {}, 60, &err), 0)
      << err;
  WriteFile(dir + "/browser.sh", "#!/bin/sh\nprintf '%s' \"$1\" > \"$CX_URL\"\n");
  chmod((dir + "/browser.sh").c_str(), 0755);
  mkdir((dir + "/runtime").c_str(), 0700);
  WriteFile(setting, "HttpMaxAge=300\n");
  e2e::Child child = e2e::Spawn({dir + "/content"},
                                {{"XDG_RUNTIME_DIR", dir + "/runtime"},
                                 {"XDG_CONFIG_HOME", dir + "/config"},
                                 {"BROWSER", dir + "/browser.sh %s"},
                                 {"CX_URL", dir + "/url"},
                                 {"DISPLAY", ""}},
                                dir + "/stderr");
  const std::string url = e2e::WaitForFile(dir + "/url", 20);
  EXPECT_FALSE(url.empty()) << e2e::ReadFile(dir + "/stderr");
  auto cacheControl = [&] {
    int code = 0;
    Reply r = ParseHead(Shell(
        "curl -s -S -D - -o /dev/null " + Quote(url.substr(0, url.rfind('/') + 1) + "page.txt"),
        &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(r.status, 200);
    return r.Value("Cache-Control");
  };
  EXPECT_EQ(cacheControl(), "max-age=300");
  WriteFile(setting, "HttpMaxAge=600\n");
  EXPECT_EQ(cacheControl(), "max-age=600");
  // The switch stays on for the run: without the value, 0 is sent.
  RemoveTree(setting);
  EXPECT_EQ(cacheControl(), "max-age=0");
  if (child.pid > 0) {
    kill(child.pid, SIGTERM);
    e2e::WaitExit(child, 10);
  }
  RemoveTree(dir);
}

}  // namespace
}  // namespace storage::clients
