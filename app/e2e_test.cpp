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
#include "testing/test_client.h"
#include "testing/utf16_text.h"
#include "testing/zip_builder.h"

namespace {

using e2e::Child;
namespace fs = std::filesystem;

// Status and body of a GET of an "http://localhost:P/..." URL; status 0 when no answer.
std::pair<int, std::string> Get(const std::string& url) {
  size_t path = url.find('/', 7);
  std::string answer =
      storage::test::Exchange(storage::test::PortOf(url.substr(0, path)),
                              "GET " + url.substr(path) + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  size_t body = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.1 ", 0) != 0 || body == std::string::npos) return {0, ""};
  return {std::atoi(answer.c_str() + 9), answer.substr(body + 4)};
}

// Record files in the records folder.
size_t RecordCount(const std::string& folder) {
  std::error_code ec;
  return std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator());
}

// A ZIP of entries (name -> bytes) at path.
void MakeZip(const std::string& path, const std::map<std::string, std::string>& entries) {
  std::vector<amzip::testing::TestEntry> list;
  for (const auto& [name, data] : entries) list.push_back({.name = name, .data = data});
  e2e::WriteFile(path, amzip::testing::BuildZip(list).bytes);
}

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
    if (!dir_.empty()) fs::remove_all(dir_);
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

// The first instance clears records left over (process 1 runs, but no instance does).
TEST_F(RunnerEndToEnd, StartServesTheStartPageRecordsAndStopsOnSigterm) {
  fs::create_directories(records_);
  e2e::WriteFile(records_ + "/777", "1\nhttp://localhost:1/x/\n");
  std::string exe = Pack("first", "FIRST-CONTENT", {"--start", "chapter 2"});
  std::string url = Start({exe, "not-a-file", "a=1", "b=2"});
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?a=1&b=2&show=chapter 2");

  auto [status, body] = Get(base + "index.html");
  EXPECT_EQ(status, 200);
  EXPECT_NE(body.find("FIRST-CONTENT"), std::string::npos);
  EXPECT_EQ(Get(base + "page.txt").second, "page of FIRST-CONTENT");

  EXPECT_FALSE(e2e::FileExists(records_ + "/777"));
  ASSERT_EQ(RecordCount(records_), 1u);
  std::string record = fs::directory_iterator(records_)->path();
  EXPECT_TRUE(std::regex_match(fs::path(record).filename().string(), std::regex("[1-9][0-9]*")));
  EXPECT_EQ(e2e::ReadFile(record), std::to_string(children_[0].pid) + "\n" + base + "\n");
  EXPECT_NE(e2e::ReadFile(dir_ + "/stderr-0").find(base), std::string::npos);

  kill(children_[0].pid, SIGTERM);
  EXPECT_EQ(e2e::WaitExit(children_[0], 10), 0);
  EXPECT_EQ(RecordCount(records_), 0u);
  EXPECT_EQ(Get(base + "index.html").first, 0);
}

TEST_F(RunnerEndToEnd, SameContentReusesItsServerOtherContentRunsItsOwn) {
  std::string exe = Pack("same", "SAME", {"--start", "s"});
  std::string base1 = BaseOf(Start({exe}));
  std::string base2 = BaseOf(Start({Pack("two", "TWO")}));
  ASSERT_FALSE(base1.empty());
  ASSERT_FALSE(base2.empty());
  EXPECT_NE(base1, base2);
  EXPECT_NE(Get(base2 + "index.html").second.find("TWO"), std::string::npos);

  std::string err, urls = dir_ + "/urls-again";
  EXPECT_EQ(e2e::Run({exe, "-", "q=2", "r"}, Env(urls), 20, &err), 0) << err;
  EXPECT_EQ(e2e::ReadFile(urls), base1 + "index.html?q=2&r&show=s\n");
  EXPECT_EQ(RecordCount(records_), 2u);

  kill(children_[1].pid, SIGINT);
  EXPECT_EQ(e2e::WaitExit(children_[1], 10), 0);
  EXPECT_EQ(RecordCount(records_), 1u);
  EXPECT_NE(Get(base1 + "index.html").second.find("SAME"), std::string::npos);
}

TEST_F(RunnerEndToEnd, NoUsableArchiveIsReportedAndEndsWith255) {
  // The runner as built has no footer; a footer pointing at bytes that are no archive
  // is found, but nothing opens.
  std::string notZip = dir_ + "/not-a-zip";
  e2e::WriteFile(notZip, e2e::ReadFile(runner_) + std::string(300, 'x') + "KVLEXEFTR" +
                             std::string(3, '\0') + std::string("\x2c\x01\0\0", 4));
  chmod(notZip.c_str(), 0755);
  for (auto [exe, message] : {std::pair(runner_, "Error while trying to open piggy-back archive"),
                              std::pair(notZip, "Couldn't find any archive")}) {
    SCOPED_TRACE(exe);
    std::string err, urls = exe + ".urls";
    EXPECT_EQ(e2e::Run({exe}, Env(urls), 20, &err), 255);
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_FALSE(e2e::FileExists(urls));
    EXPECT_EQ(RecordCount(records_), 0u);
  }
}

TEST_F(RunnerEndToEnd, ArchiveNamedOnTheCommandLineWinsAndItsPortEntryCounts) {
  // A port number followed by other text, as wcstol reads it.
  std::string port = std::to_string(20000 + (getpid() * 7) % 20000);
  std::string packed = Pack("packed", "APPENDED", {"--start", "p"});
  std::string zip = dir_ + "/named.zip";
  MakeZip(zip, {{"index.html", "NAMED-ZIP"},
                {".start", app::test::Utf16Le(u"n")},
                {".port", app::test::Utf16Le(std::u16string(port.begin(), port.end()) + u"abc")}});
  std::string url = Start({packed, zip, "k=v"});
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?k=v&show=n");
  EXPECT_EQ(base.rfind("http://localhost:" + port + "/", 0), 0u);
  EXPECT_EQ(Get(base + "index.html").second, "NAMED-ZIP");

  // Any readable file counts as the archive: it opens, has no entries, and is served.
  std::string text = dir_ + "/notes.txt";
  e2e::WriteFile(text, "not a zip at all");
  std::string base2 = BaseOf(Start({runner_, text}));
  ASSERT_FALSE(base2.empty());
  EXPECT_EQ(Get(base2 + "index.html").first, 404);
}

TEST_F(RunnerEndToEnd, NoBrowserWithoutTerminalEndsAtOnceWithZero) {
  std::string exe = Pack("nobrowser", "NB");
  auto env = Env(dir_ + "/urls");
  env["BROWSER"] = "/nonexistent/browser";
  env["PATH"] = "/nonexistent";  // no xdg-open either
  std::string err;
  EXPECT_EQ(e2e::Run({exe}, env, 20, &err), 0) << err;
  EXPECT_EQ(RecordCount(records_), 0u);
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
