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
    records_ = runtime_ + "/Trellium/DeployedServers";
    mkdir(runtime_.c_str(), 0700);
    recorder_ = dir_ + "/browser.sh";
    e2e::WriteFile(recorder_, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$CX_URLS\"\n");
    chmod(recorder_.c_str(), 0755);
  }

  void TearDown() override {
    for (Child& c : children_) {
      if (c.pid > 0) kill(c.pid, SIGKILL), e2e::WaitExit(c, 5);
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
                   const std::vector<std::string>& options = {}) {
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

  // Starts argv and waits for the start URL its browser is handed ("" when none came).
  std::string Start(const std::vector<std::string>& argv) {
    std::string urls = dir_ + "/urls-" + std::to_string(children_.size());
    children_.push_back(
        e2e::Spawn(argv, Env(urls), dir_ + "/stderr-" + std::to_string(children_.size())));
    std::string text = e2e::WaitForFile(urls, 20);
    return text.substr(0, text.find('\n'));
  }

  std::string runner_, packer_, dir_, runtime_, records_, recorder_;
  std::vector<Child> children_;
};

// "http://localhost:P/prefix/" of a start URL.
std::string BaseOf(const std::string& url) {
  std::smatch m;
  std::regex base("^(http://localhost:[0-9]+/[0-9a-f]+/)index\\.html.*$");
  return std::regex_match(url, m, base) ? m[1].str() : "";
}

TEST_F(RunnerEndToEnd, StartServesTheStartPageRecordsAndStopsOnSigterm) {
  std::string exe = Pack("first", "FIRST-CONTENT", {"--start", "chapter 2"});
  std::string url = Start({exe, "not-a-file", "a=1", "b=2"});
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?a=1&b=2&show=chapter 2");

  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("FIRST-CONTENT"), std::string::npos);
  ASSERT_TRUE(e2e::HttpGet(base + "page.txt", reply));
  EXPECT_EQ(reply.body, "page of FIRST-CONTENT");

  std::vector<std::string> records = e2e::ListDir(records_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::regex_match(records[0], std::regex("[1-9][0-9]{0,9}")));
  EXPECT_EQ(e2e::ReadFile(records_ + "/" + records[0]),
            std::to_string(children_[0].pid) + "\n" + base + "\n");
  EXPECT_NE(e2e::ReadFile(dir_ + "/stderr-0").find(base), std::string::npos);

  kill(children_[0].pid, SIGTERM);
  EXPECT_EQ(e2e::WaitExit(children_[0], 10), 0);
  EXPECT_TRUE(e2e::ListDir(records_).empty());
  EXPECT_FALSE(e2e::HttpGet(base + "index.html", reply));
}

TEST_F(RunnerEndToEnd, SecondStartOfTheSameContentReusesTheServer) {
  std::string exe = Pack("same", "SAME", {"--start", "s"});
  std::string base = BaseOf(Start({exe}));
  ASSERT_FALSE(base.empty());

  std::string err, urls = dir_ + "/urls-again";
  auto env = Env(urls);
  EXPECT_EQ(e2e::Run({exe, "-", "q=2", "r"}, env, 20, &err), 0) << err;
  EXPECT_EQ(e2e::ReadFile(urls), base + "index.html?q=2&r&show=s\n");
  EXPECT_EQ(e2e::ListDir(records_).size(), 1u);
  e2e::HttpReply reply;  // the first server still runs
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.status, 200);
}

TEST_F(RunnerEndToEnd, DifferentContentRunsItsOwnServer) {
  std::string base1 = BaseOf(Start({Pack("one", "ONE")}));
  std::string base2 = BaseOf(Start({Pack("two", "TWO")}));
  ASSERT_FALSE(base1.empty());
  ASSERT_FALSE(base2.empty());
  EXPECT_NE(base1, base2);
  EXPECT_EQ(e2e::ListDir(records_).size(), 2u);
  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base2 + "index.html", reply));
  EXPECT_NE(reply.body.find("TWO"), std::string::npos);

  kill(children_[1].pid, SIGINT);
  EXPECT_EQ(e2e::WaitExit(children_[1], 10), 0);
  EXPECT_EQ(e2e::ListDir(records_).size(), 1u);
  ASSERT_TRUE(e2e::HttpGet(base1 + "index.html", reply));
  EXPECT_NE(reply.body.find("ONE"), std::string::npos);
}

TEST_F(RunnerEndToEnd, FirstInstanceClearsLeftOverRecords) {
  std::filesystem::create_directories(records_);
  e2e::WriteFile(records_ + "/777", "1\nhttp://localhost:1/x/\n");
  ASSERT_FALSE(BaseOf(Start({Pack("fresh", "FRESH")})).empty());
  EXPECT_FALSE(e2e::FileExists(records_ + "/777"));  // process 1 runs, but no instance does
  EXPECT_EQ(e2e::ListDir(records_).size(), 1u);
}

TEST_F(RunnerEndToEnd, NoUsableArchiveIsReportedAndEndsWith255) {
  struct Case {
    const char* name;
    std::string payload;  // appended to the runner with a footer claiming length bytes
    uint32_t length;
    const char* message;
  } cases[] = {
      {"no-footer", "", 0, "Error while trying to open piggy-back archive"},
      // The footer is found, but the bytes it points at are no archive.
      {"not-a-zip", std::string(300, 'x'), 300, "Couldn't find any archive"},
      // A footer whose length reaches in front of the file is no footer at all.
      {"too-long", "abc", 0x7FFFFFF0u, "Error while trying to open piggy-back archive"},
      {"zero-length", "abc", 0, "Error while trying to open piggy-back archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string exe = runner_;
    if (!c.payload.empty()) {
      std::string footer = "KVLEXEFTR" + std::string(3, '\0');
      for (int shift = 0; shift < 32; shift += 8) footer += static_cast<char>(c.length >> shift);
      exe = dir_ + "/" + c.name;
      e2e::WriteFile(exe, e2e::ReadFile(runner_) + c.payload + footer);
      chmod(exe.c_str(), 0755);
    }
    std::string err, urls = dir_ + "/" + c.name + ".urls";
    EXPECT_EQ(e2e::Run({exe}, Env(urls), 20, &err), 255);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(e2e::FileExists(urls));
    EXPECT_TRUE(e2e::ListDir(records_).empty());
  }
}

TEST_F(RunnerEndToEnd, ArchiveNamedOnTheCommandLineWins) {
  std::string packed = Pack("packed", "APPENDED", {"--start", "p"});
  std::string zip = dir_ + "/named.zip";
  e2e::MakeZip(zip, {{"index.html", "NAMED-ZIP"}, {".start", e2e::Utf16Le(u"n")}});
  std::string url = Start({packed, zip, "k=v"});
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?k=v&show=n");
  e2e::HttpReply reply;
  ASSERT_TRUE(e2e::HttpGet(base + "index.html", reply));
  EXPECT_EQ(reply.body, "NAMED-ZIP");

  // Any readable file counts as the archive: it opens, has no entries, and is served.
  std::string text = dir_ + "/notes.txt";
  e2e::WriteFile(text, "not a zip at all");
  std::string base2 = BaseOf(Start({runner_, text}));
  ASSERT_FALSE(base2.empty());
  ASSERT_TRUE(e2e::HttpGet(base2 + "index.html", reply));
  EXPECT_EQ(reply.status, 404);
}

TEST_F(RunnerEndToEnd, PortEntryChoosesThePort) {
  // A port number followed by other text, as wcstol reads it; a negative one means any.
  std::string wanted = std::to_string(20000 + (getpid() * 7) % 20000);
  for (std::string text : {wanted + "abc", std::string("-1")}) {
    SCOPED_TRACE(text);
    std::string zip = dir_ + "/port" + text + ".zip";
    e2e::MakeZip(zip, {{"index.html", "P"},
                       {".port", e2e::Utf16Le(std::u16string(text.begin(), text.end()))}});
    std::string base = BaseOf(Start({runner_, zip}));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(base, m, std::regex(":([0-9]+)/")));
    if (text[0] == '-') {
      EXPECT_NE(m[1].str(), "0");
    } else {
      EXPECT_EQ(m[1].str(), wanted);
    }
    kill(children_.back().pid, SIGTERM);
    EXPECT_EQ(e2e::WaitExit(children_.back(), 10), 0);
  }
}

TEST_F(RunnerEndToEnd, NoBrowserWithoutTerminalEndsAtOnceWithZero) {
  std::string exe = Pack("nobrowser", "NB");
  auto env = Env(dir_ + "/urls");
  env["BROWSER"] = "/nonexistent/browser";
  env["PATH"] = "/nonexistent";  // no xdg-open either
  std::string err;
  EXPECT_EQ(e2e::Run({exe}, env, 20, &err), 0) << err;
  EXPECT_TRUE(e2e::ListDir(records_).empty());
}

TEST_F(RunnerEndToEnd, HeadlessChromiumRunsTheDemoScript) {
  std::string chromium;
  for (const char* c : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (e2e::FileExists(c)) chromium = c;
  }
  if (chromium.empty()) GTEST_SKIP() << "no chromium";
  std::string exe = dir_ + "/demo", err;
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
