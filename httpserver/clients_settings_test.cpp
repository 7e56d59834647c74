// The HttpMaxAge setting as the real runner reads it: a fresh runner per case, its own
// settings file ($XDG_CONFIG_HOME/Trellium/Expert), and curl reading "Cache-Control" as
// the file changes while the runner serves.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "testing/clients_fixture.h"
#include "testing/runner_e2e.h"

namespace storage::clients {
namespace {

class MaxAgeSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner_ = e2e::BinaryDir() + "/bin/contentexe";
    std::string packer = e2e::BinaryDir() + "/bin/contentexe-pack";
    if (!e2e::FileExists(runner_) || !e2e::FileExists(packer)) GTEST_SKIP() << "no runner";
    if (!HaveCommand("curl")) GTEST_SKIP() << "curl not installed";
    dir_ = MakeTempDir();
    WriteFile(dir_ + "/src/index.html", "<p>start</p>");
    WriteFile(dir_ + "/src/page.txt", "a page");
    std::string err;
    ASSERT_EQ(e2e::Run({packer, dir_ + "/src", "-o", dir_ + "/content", "--force"}, {}, 60, &err),
              0)
        << err;
    WriteFile(dir_ + "/browser.sh", "#!/bin/sh\nprintf '%s' \"$1\" > \"$CX_URL\"\n");
    chmod((dir_ + "/browser.sh").c_str(), 0755);
    mkdir((dir_ + "/runtime").c_str(), 0700);
  }
  void TearDown() override {
    if (child_.pid > 0) {
      kill(child_.pid, SIGTERM);
      e2e::WaitExit(child_, 10);
    }
    RemoveTree(dir_);
  }

  // The settings file's text; "" removes the file.
  void Setting(const std::string& text) {
    RemoveTree(dir_ + "/config/Trellium/Expert");
    if (!text.empty()) WriteFile(dir_ + "/config/Trellium/Expert", text);
  }
  // Starts the runner; the base URL of its content ("" on failure).
  std::string Start() {
    child_ = e2e::Spawn({dir_ + "/content"},
                        {{"XDG_RUNTIME_DIR", dir_ + "/runtime"},
                         {"XDG_CONFIG_HOME", dir_ + "/config"},
                         {"BROWSER", dir_ + "/browser.sh %s"},
                         {"CX_URL", dir_ + "/url"},
                         {"DISPLAY", ""}},
                        dir_ + "/stderr");
    std::string url = e2e::WaitForFile(dir_ + "/url", 20);
    return url.substr(0, url.rfind('/') + 1);
  }
  std::string CacheControl(const std::string& base) {
    int code = 0;
    std::string head = Shell("curl -s -S -D - -o /dev/null " + Quote(base + "page.txt"), &code);
    EXPECT_EQ(code, 0);
    Reply r = ParseHead(head);
    EXPECT_EQ(r.status, 200);
    return r.Value("Cache-Control");
  }

  std::string runner_, dir_;
  e2e::Child child_;
};

TEST_F(MaxAgeSettingTest, OnAtTheFirstResponseFollowsTheFile) {
  Setting("HttpMaxAge=300\n");
  std::string base = Start();
  ASSERT_FALSE(base.empty());
  EXPECT_EQ(CacheControl(base), "max-age=300");
  Setting("HttpMaxAge=600\n");
  EXPECT_EQ(CacheControl(base), "max-age=600");
  // The switch stays on for the run: 0 is sent as it is.
  Setting("HttpMaxAge=0\n");
  EXPECT_EQ(CacheControl(base), "max-age=0");
  Setting("");
  EXPECT_EQ(CacheControl(base), "max-age=0");
}

TEST_F(MaxAgeSettingTest, OffAtTheFirstResponseStaysOff) {
  std::string base = Start();
  ASSERT_FALSE(base.empty());
  EXPECT_EQ(CacheControl(base), "max-age=5");
  Setting("HttpMaxAge=600\n");
  EXPECT_EQ(CacheControl(base), "max-age=5");
}

}  // namespace
}  // namespace storage::clients
