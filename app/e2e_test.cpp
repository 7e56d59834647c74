// End-to-end runs of the real programs: contentexe-pack makes content executables, the
// runner serves them, and a $BROWSER script records the start URL it is handed. Every
// test has its own runtime folder (XDG_RUNTIME_DIR), so records and locks are its own.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "testing/runner_e2e.h"

namespace {

using e2e::Child;

class RunnerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    runner_ = e2e::BinaryDir() + "/bin/contentexe";
    packer_ = e2e::BinaryDir() + "/bin/contentexe-pack";
    if (!e2e::FileExists(runner_) || !e2e::FileExists(packer_)) {
      GTEST_SKIP() << "needs " << runner_ << " and " << packer_;
    }
    dir_ = e2e::MakeTempDir();
    runtime_ = dir_ + "/runtime";
    mkdir(runtime_.c_str(), 0700);
    recorder_ = dir_ + "/browser.sh";
    e2e::WriteFile(recorder_, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$CX_URLS\"\n");
    chmod(recorder_.c_str(), 0755);
  }

  void TearDown() override {
    for (Child& c : children_) {
      if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        e2e::WaitExit(c, 5);
      }
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::map<std::string, std::string> Env(const std::string& urls) {
    return {{"XDG_RUNTIME_DIR", runtime_},
            {"BROWSER", recorder_ + " %s"},
            {"CX_URLS", urls},
            {"DISPLAY", ""}};
  }

  // A content folder with index.html holding marker, packed with the given options.
  std::string Pack(const std::string& name, const std::string& marker,
                   const std::vector<std::string>& options) {
    std::string folder = dir_ + "/" + name + "-src";
    mkdir(folder.c_str(), 0700);
    e2e::WriteFile(folder + "/index.html", "<html><body>" + marker + "</body></html>");
    e2e::WriteFile(folder + "/page.txt", "page of " + marker);
    std::string out = dir_ + "/" + name;
    std::vector<std::string> argv = {packer_, folder, "-o", out, "--force"};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string err;
    EXPECT_EQ(e2e::Run(argv, {}, 60, &err), 0) << err;
    return out;
  }

  Child Start(const std::vector<std::string>& argv, const std::string& urls) {
    children_.push_back(
        e2e::Spawn(argv, Env(urls), dir_ + "/stderr-" + std::to_string(children_.size())));
    return children_.back();
  }

  std::string Records() { return runtime_ + "/Trellium/DeployedServers"; }

  std::string runner_, packer_, dir_, runtime_, recorder_;
  std::vector<Child> children_;
};

// "http://localhost:P/prefix/" of a start URL.
std::string BaseOf(const std::string& url) {
  std::smatch m;
  std::regex base("^(http://localhost:[0-9]+/[0-9a-f]+/)index\\.html.*$");
  return std::regex_match(url, m, base) ? m[1].str() : "";
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST_F(RunnerEndToEnd, StartServesTheStartPageRecordsAndStopsOnSigterm) {
  std::string exe = Pack("first", "FIRST-CONTENT", {"--start", "chapter 2"});
  std::string urls = dir_ + "/urls";
  Child run = Start({exe, "not-a-file", "a=1", "b=2"}, urls);
  std::string url = FirstLine(e2e::WaitForFile(urls, 20));
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?a=1&b=2&show=chapter 2");

  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("FIRST-CONTENT"), std::string::npos);
  ASSERT_TRUE(e2e::HttpGet(base + "page.txt", reply));
  EXPECT_EQ(reply.body, "page of FIRST-CONTENT");

  std::vector<std::string> records = e2e::ListDir(Records());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::regex_match(records[0], std::regex("[1-9][0-9]{0,9}")));
  EXPECT_EQ(e2e::ReadFile(Records() + "/" + records[0]),
            std::to_string(run.pid) + "\n" + base + "\n");
  EXPECT_NE(e2e::ReadFile(dir_ + "/stderr-0").find(base), std::string::npos);

  kill(run.pid, SIGTERM);
  EXPECT_EQ(e2e::WaitExit(children_[0], 10), 0);
  EXPECT_TRUE(e2e::ListDir(Records()).empty());
  EXPECT_FALSE(e2e::HttpGet(base + "index.html", reply));
}

TEST_F(RunnerEndToEnd, SecondStartOfTheSameContentReusesTheServer) {
  std::string exe = Pack("same", "SAME", {"--start", "s"});
  std::string urls1 = dir_ + "/urls1", urls2 = dir_ + "/urls2";
  Start({exe}, urls1);
  std::string base = BaseOf(FirstLine(e2e::WaitForFile(urls1, 20)));
  ASSERT_FALSE(base.empty());

  std::string err;
  EXPECT_EQ(e2e::Run({exe, "-", "q=2", "r"}, Env(urls2), 20, &err), 0) << err;
  EXPECT_EQ(FirstLine(e2e::ReadFile(urls2)), base + "index.html?q=2&r&show=s");
  EXPECT_EQ(e2e::ListDir(Records()).size(), 1u);
  // The first server still runs.
  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.status, 200);
}

TEST_F(RunnerEndToEnd, DifferentContentRunsItsOwnServer) {
  std::string one = Pack("one", "ONE", {});
  std::string two = Pack("two", "TWO", {});
  std::string urls1 = dir_ + "/urls1", urls2 = dir_ + "/urls2";
  Start({one}, urls1);
  std::string base1 = BaseOf(FirstLine(e2e::WaitForFile(urls1, 20)));
  Child second = Start({two}, urls2);
  std::string base2 = BaseOf(FirstLine(e2e::WaitForFile(urls2, 20)));
  ASSERT_FALSE(base1.empty());
  ASSERT_FALSE(base2.empty());
  EXPECT_NE(base1, base2);
  EXPECT_EQ(e2e::ListDir(Records()).size(), 2u);
  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base2 + "index.html", reply));
  EXPECT_NE(reply.body.find("TWO"), std::string::npos);

  kill(second.pid, SIGINT);
  EXPECT_EQ(e2e::WaitExit(children_[1], 10), 0);
  EXPECT_EQ(e2e::ListDir(Records()).size(), 1u);
  ASSERT_TRUE(e2e::HttpGet(base1 + "index.html", reply));
  EXPECT_NE(reply.body.find("ONE"), std::string::npos);
}

TEST_F(RunnerEndToEnd, StaleRecordsAreRemovedAndOthersKept) {
  std::string one = Pack("one", "ONE", {});
  std::string two = Pack("two", "TWO", {});
  std::string urls1 = dir_ + "/urls1", urls2 = dir_ + "/urls2";
  Start({one}, urls1);
  ASSERT_FALSE(BaseOf(FirstLine(e2e::WaitForFile(urls1, 20))).empty());

  // A process that has ended: its identifier is not in use right after the reap.
  Child gone = e2e::Spawn({"/bin/true"}, {}, dir_ + "/true.err");
  pid_t dead = gone.pid;
  e2e::WaitExit(gone, 10);
  e2e::WriteFile(Records() + "/12345", std::to_string(dead) + "\nhttp://localhost:1/x/\n");
  e2e::WriteFile(Records() + "/123456789012", std::to_string(dead) + "\nhttp://localhost:1/x/\n");

  Start({two}, urls2);
  ASSERT_FALSE(BaseOf(FirstLine(e2e::WaitForFile(urls2, 20))).empty());
  EXPECT_FALSE(e2e::FileExists(Records() + "/12345"));
  EXPECT_TRUE(e2e::FileExists(Records() + "/123456789012"));  // not a record: untouched
  EXPECT_EQ(e2e::ListDir(Records()).size(), 3u);
}

TEST_F(RunnerEndToEnd, FirstInstanceClearsLeftOverRecords) {
  mkdir((runtime_ + "/Trellium").c_str(), 0700);
  mkdir(Records().c_str(), 0700);
  e2e::WriteFile(Records() + "/777", "1\nhttp://localhost:1/x/\n");
  std::string exe = Pack("fresh", "FRESH", {});
  std::string urls = dir_ + "/urls";
  Start({exe}, urls);
  ASSERT_FALSE(BaseOf(FirstLine(e2e::WaitForFile(urls, 20))).empty());
  EXPECT_FALSE(e2e::FileExists(Records() + "/777"));  // process 1 runs, but no instance does
  EXPECT_EQ(e2e::ListDir(Records()).size(), 1u);
}

TEST_F(RunnerEndToEnd, NoArchiveEndsWith255AndAMessage) {
  std::string err;
  EXPECT_EQ(e2e::Run({runner_}, Env(dir_ + "/urls"), 20, &err), 255);
  EXPECT_NE(err.find("Error while trying to open piggy-back archive"), std::string::npos) << err;
  EXPECT_FALSE(e2e::FileExists(dir_ + "/urls"));
}

// A copy of the runner with payload and a footer claiming archiveLength bytes appended.
std::string AppendWithFooter(const std::string& runner, const std::string& out,
                             const std::string& payload, uint32_t archiveLength) {
  std::string footer = "KVLEXEFTR";
  footer.append(3, '\0');
  for (int shift = 0; shift < 32; shift += 8) footer += static_cast<char>(archiveLength >> shift);
  e2e::WriteFile(out, e2e::ReadFile(runner) + payload + footer);
  chmod(out.c_str(), 0755);
  return out;
}

TEST_F(RunnerEndToEnd, FooterWithoutAZipOrWithoutRoomIsReportedAndEndsWith255) {
  struct Case {
    const char* name;
    std::string payload;
    uint32_t length;
    const char* message;
  } cases[] = {
      // The footer is found, but the bytes it points at are no archive.
      {"not-a-zip", std::string(300, 'x'), 300, "Couldn't find any archive"},
      {"gzip", std::string("\x1f\x8b\x08\x00", 4) + std::string(60, 'g'), 64,
       "Couldn't find any archive"},
      // A footer whose length reaches in front of the file is no footer at all.
      {"too-long", "abc", 0x7FFFFFF0u, "Error while trying to open piggy-back archive"},
      {"zero-length", "abc", 0, "Error while trying to open piggy-back archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string exe = AppendWithFooter(runner_, dir_ + "/" + c.name, c.payload, c.length);
    std::string err, urls = exe + ".urls";
    EXPECT_EQ(e2e::Run({exe}, Env(urls), 20, &err), 255);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(e2e::FileExists(urls));
    EXPECT_TRUE(e2e::ListDir(Records()).empty());
  }
}

TEST_F(RunnerEndToEnd, ArchiveNamedOnTheCommandLineWins) {
  std::string packed = Pack("packed", "APPENDED", {"--start", "p"});
  std::string zip = dir_ + "/named.zip";
  e2e::MakeZip(zip, {{"index.html", "NAMED-ZIP"}, {".start", e2e::Utf16Le(u"n")}});
  std::string urls = dir_ + "/urls";
  Start({packed, zip, "k=v"}, urls);
  std::string url = FirstLine(e2e::WaitForFile(urls, 20));
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?k=v&show=n");
  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.body, "NAMED-ZIP");

  // Any readable file counts as the archive: it opens, has no entries, and is served.
  std::string text = dir_ + "/notes.txt";
  e2e::WriteFile(text, "not a zip at all");
  std::string urls2 = dir_ + "/urls2";
  Start({runner_, text}, urls2);
  std::string base2 = BaseOf(FirstLine(e2e::WaitForFile(urls2, 20)));
  ASSERT_FALSE(base2.empty());
  ASSERT_TRUE(e2e::HttpGet(base2 + "index.html", reply));
  EXPECT_EQ(reply.status, 404);
}

TEST_F(RunnerEndToEnd, PortEntryIsReadLikeWcstol) {
  // A free port to ask for: bind, read, release.
  struct Case {
    std::u16string text;
    int port;  // 0: any port
  } cases[] = {
      {u"-1", 0},
      {u"PORTabc", -1},  // PORT replaced below by a free port number
      {u"\uFEFF"
       u"PORT",
       0},  // the byte-order mark makes it 0: any port
  };
  int index = 0;
  for (Case& c : cases) {
    std::string freePort = std::to_string(20000 + (getpid() * 7 + index * 131) % 20000);
    std::u16string text;
    for (char16_t u : c.text) text += u;
    size_t at = text.find(u"PORT");
    if (at != std::u16string::npos)
      text.replace(at, 4, std::u16string(freePort.begin(), freePort.end()));
    std::string zip = dir_ + "/port" + std::to_string(index) + ".zip";
    e2e::MakeZip(zip, {{"index.html", "P" + std::to_string(index)}, {".port", e2e::Utf16Le(text)}});
    std::string urls = dir_ + "/purls" + std::to_string(index);
    Child run = Start({runner_, zip}, urls);
    std::string base = BaseOf(FirstLine(e2e::WaitForFile(urls, 20)));
    ASSERT_FALSE(base.empty()) << index;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(base, m, std::regex(":([0-9]+)/")));
    if (c.port == -1) {
      EXPECT_EQ(m[1].str(), freePort) << index;
    } else {
      EXPECT_NE(m[1].str(), "0");
    }
    kill(run.pid, SIGTERM);
    EXPECT_EQ(e2e::WaitExit(children_.back(), 10), 0);
    ++index;
  }
}

TEST_F(RunnerEndToEnd, NoBrowserWithoutTerminalEndsAtOnceWithZero) {
  std::string exe = Pack("nobrowser", "NB", {});
  auto env = Env(dir_ + "/urls");
  env["BROWSER"] = "/nonexistent/browser";
  env["PATH"] = "/nonexistent";  // no xdg-open either
  std::string err;
  EXPECT_EQ(e2e::Run({exe}, env, 20, &err), 0) << err;
  EXPECT_TRUE(e2e::ListDir(Records()).empty());
}

TEST_F(RunnerEndToEnd, HeadlessChromiumRunsTheDemoScript) {
  const char* candidates[] = {"/usr/bin/chromium", "/usr/bin/chromium-browser"};
  std::string chromium;
  for (const char* c : candidates) {
    if (e2e::FileExists(c)) chromium = c;
  }
  if (chromium.empty()) GTEST_SKIP() << "no chromium";
  std::string exe = dir_ + "/demo";
  std::string err;
  ASSERT_EQ(e2e::Run({packer_, e2e::SourceDir() + "/examples/demo", "-o", exe, "--force", "--start",
                      "media"},
                     {}, 60, &err),
            0)
      << err;
  std::string dom = dir_ + "/dom.html";
  std::string script = dir_ + "/chromium.sh";
  e2e::WriteFile(script, "#!/bin/sh\n\"" + chromium +
                             "\" --headless --no-sandbox --disable-gpu --user-data-dir=\"" + dir_ +
                             "/profile\" --virtual-time-budget=3000 --dump-dom \"$1\" > \"" + dom +
                             ".part\" 2>/dev/null; mv \"" + dom + ".part\" \"" + dom + "\"\n");
  chmod(script.c_str(), 0755);
  auto env = Env(dir_ + "/urls");
  env["BROWSER"] = script;
  children_.push_back(e2e::Spawn({exe}, env, dir_ + "/demo.err"));
  std::string text = e2e::WaitForFile(dom, 90);
  EXPECT_NE(text.find("data-shown=\"media\""), std::string::npos) << text.substr(0, 2000);
  EXPECT_NE(text.find("<section id=\"media\" class=\"panel selected\">"), std::string::npos);
}

}  // namespace
