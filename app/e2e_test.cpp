// End-to-end runs of the real programs: contentexe-pack makes content executables, the
// runner serves them, and a $BROWSER script records the start URL it is handed. Every
// test has its own runtime folder (XDG_RUNTIME_DIR), so records and locks are its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
    recorder_ = e2e::UrlRecorder(dir_);
  }

  void TearDown() override {
    for (Child& c : children_) {
      if (c.pid > 0) kill(c.pid, SIGKILL), e2e::WaitExit(c, 5);
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  e2e::Env Env(const std::string& urls) {
    return {{"XDG_RUNTIME_DIR", runtime_},
            {"XDG_CONFIG_HOME", dir_ + "/config"},
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
  EXPECT_EQ(e2e::ReadFile(record), std::to_string(children_[0].pid) + "\n" + base + "\n");
  struct stat info;  // written aside (nothing else is left in the folder), for us only
  ASSERT_EQ(stat(record.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // The runner says where it serves once the browser start has returned, which may
  // come after the browser has already asked for the page.
  EXPECT_NE(e2e::WaitForFile(dir_ + "/stderr-0", 10).find(base), std::string::npos);

  kill(children_[0].pid, SIGTERM);
  EXPECT_EQ(e2e::WaitExit(children_[0], 10), 0);
  EXPECT_EQ(RecordCount(records_), 0u);
  EXPECT_EQ(Get(base + "index.html").first, 0);
}

TEST_F(RunnerEndToEnd, SameContentReusesItsServerOtherContentRunsItsOwn) {
  std::string exe = Pack("same", "SAME", {"--start", "s"});
  std::string base1 = BaseOf(Start({exe}));
  std::string base2 = BaseOf(Start({Pack("two", "TWO")}));
  ASSERT_FALSE(base1.empty() || base2.empty());
  EXPECT_NE(base1, base2);
  EXPECT_NE(Get(base2 + "index.html").second.find("TWO"), std::string::npos);

  std::string err, urls = dir_ + "/urls-again";
  EXPECT_EQ(e2e::Run({exe, "-", "q=2", "r"}, Env(urls), 20, &err), 0) << err;
  // The browser the hand-over starts may write after the start has ended.
  EXPECT_EQ(e2e::WaitForFile(urls, 10), base1 + "index.html?q=2&r&show=s\n");
  EXPECT_EQ(RecordCount(records_), 2u);

  kill(children_[1].pid, SIGINT);
  EXPECT_EQ(e2e::WaitExit(children_[1], 10), 0);
  EXPECT_EQ(RecordCount(records_), 1u);
  EXPECT_NE(Get(base1 + "index.html").second.find("SAME"), std::string::npos);
}

// Runs that end at once, leaving no record: without a usable archive (the runner as built
// has no footer; a footer may point at bytes that are no archive) with 255 and a message.
TEST_F(RunnerEndToEnd, RunsThatEndAtOnce) {
  std::string notZip = dir_ + "/not-a-zip", urls = dir_ + "/urls";
  e2e::WriteFile(notZip, e2e::ReadFile(runner_) + std::string(300, 'x') + "KVLEXEFTR" +
                             std::string(3, '\0') + std::string("\x2c\x01\0\0", 4));
  chmod(notZip.c_str(), 0755);
  for (const auto& [exe, message] :
       {std::pair<std::string, const char*>{runner_, "Error while trying to open piggy-back archive"},
        {notZip, "Couldn't find any archive"}}) {
    std::string err;
    EXPECT_EQ(e2e::Run({exe}, Env(urls), 20, &err), 255) << exe << ": " << err;
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_FALSE(e2e::FileExists(urls));
    EXPECT_EQ(RecordCount(records_), 0u);
  }
}

TEST_F(RunnerEndToEnd, ArchiveNamedOnTheCommandLineWinsAndItsPortEntryCounts) {
  // A port number followed by other text, as wcstol reads it.
  // Below Linux's ephemeral range, so no outgoing connection of a busy machine holds it.
  std::string port = std::to_string(20000 + (getpid() * 7) % 12000);
  std::string packed = Pack("packed", "APPENDED", {"--start", "p"});
  std::string zip = dir_ + "/named.zip";
  std::u16string portText(port.begin(), port.end());
  e2e::WriteFile(zip, amzip::testing::BuildZip(
                          {{.name = "index.html", .data = "NAMED-ZIP"},
                           {.name = ".start", .data = app::test::Utf16Le(u"n")},
                           {.name = ".port", .data = app::test::Utf16Le(portText + u"abc")}})
                          .bytes);
  std::string url = Start({packed, zip, "k=v"});
  std::string base = BaseOf(url);
  ASSERT_FALSE(base.empty()) << url;
  EXPECT_EQ(url, base + "index.html?k=v&show=n");
  EXPECT_EQ(base.rfind("http://localhost:" + port + "/", 0), 0u);
  EXPECT_EQ(Get(base + "index.html").second, "NAMED-ZIP");

  // A file without a ZIP directory (a document dropped onto the program) is ignored
  // like a missing one: the appended archive is served, and its name is no parameter.
  std::string text = dir_ + "/notes.txt";
  e2e::WriteFile(text, "not a zip at all");
  std::string url2 = Start({packed, text});
  std::string base2 = BaseOf(url2);
  ASSERT_FALSE(base2.empty()) << url2;
  EXPECT_EQ(url2, base2 + "index.html?show=p");
  EXPECT_NE(Get(base2 + "index.html").second.find("APPENDED"), std::string::npos);
}

// The port of an "http://localhost:P/..." URL; 0 when there is none.
int PortOfUrl(const std::string& url) {
  std::smatch m;
  return std::regex_search(url, m, std::regex("^http://localhost:([0-9]+)/")) ? std::stoi(m[1]) : 0;
}

// No browser to start: the address is told on standard error and the content served
// until a stop signal (SIGHUP too: the terminal went away) ends it with 0.
TEST_F(RunnerEndToEnd, NoBrowserTellsTheAddressAndServesUntilStopped) {
  std::string exe = Pack("nobrowser", "NB");
  e2e::Env env = Env(dir_ + "/urls");
  env["BROWSER"] = "/nonexistent/browser";
  env["PATH"] = "/nonexistent";  // no xdg-open either
  children_.push_back(e2e::Spawn({exe, "-", "x=1"}, env, dir_ + "/stderr"));
  std::string said = e2e::WaitForFile(dir_ + "/stderr", 20);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(said, m,
                                std::regex("Open (http://localhost:[0-9]+/[0-9a-f]+/)"
                                           "index\\.html\\?x=1 in your browser")))
      << said;
  EXPECT_NE(Get(m[1].str() + "index.html").second.find("NB"), std::string::npos);
  EXPECT_EQ(RecordCount(records_), 1u);
  kill(children_[0].pid, SIGHUP);
  EXPECT_EQ(e2e::WaitExit(children_[0], 10), 0);
  EXPECT_EQ(RecordCount(records_), 0u);
}

// A fixed port (the content's own or the HttpPort setting) that another program holds
// is said, and the start ends with 255; nothing is recorded, no browser opened.
TEST_F(RunnerEndToEnd, HeldFixedPortIsSaidAndTheStartFails) {
  // Another program's socket listening on a free loopback port.
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(holder, 4), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  std::string urls = dir_ + "/urls";
  for (bool fromSetting : {false, true}) {
    std::string exe = fromSetting ? Pack("setting", "S") : Pack("fixed", "F", {"--port", port});
    if (fromSetting) {
      fs::create_directories(dir_ + "/config/Trellium");
      e2e::WriteFile(dir_ + "/config/Trellium/Expert", "HttpPort=" + port + "\n");
    }
    std::string err;
    EXPECT_EQ(e2e::Run({exe}, Env(urls), 20, &err), 255) << err;
    EXPECT_NE(err.find("port " + port + " is used by another program"), std::string::npos) << err;
    EXPECT_FALSE(e2e::FileExists(urls));
    EXPECT_EQ(RecordCount(records_), 0u);
  }
  close(holder);
}

// A page that counts its visits in localStorage, which the browser keeps per origin.
const char kVisitCounter[] =
    "<script>var n = Number(localStorage.getItem('visits') || 0) + 1;"
    "localStorage.setItem('visits', String(n)); document.title = 'visits=' + n;</script>";

// The title a headless Chromium with profile sees after loading url ("" when none).
std::string TitleInChromium(const std::string& url, const std::string& profile) {
  std::string command =
      "timeout 90 chromium --headless --no-sandbox --disable-gpu --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--user-data-dir='" +
      profile + "' --dump-dom '" + url + "' 2>/dev/null";
  std::string dom;
  if (FILE* out = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) dom.append(buffer, n);
    pclose(out);
  }
  std::smatch m;
  return std::regex_search(dom, m, std::regex("<title>([^<]*)</title>")) ? m[1].str() : "";
}

// Without a fixed port a content asks for the port it had last time (then the port
// derived from its identity): its origin stays, and with it what its pages stored. A
// second content started meanwhile gets a port of its own.
TEST_F(RunnerEndToEnd, ContentKeepsItsPortSoWhatItsPagesStoredSurvivesRestarts) {
  if (std::system("chromium --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no chromium";
  std::string exe = Pack("visits", kVisitCounter);
  std::string profile = dir_ + "/profile";
  int port = 0;
  for (int run = 1; run <= 3; ++run) {
    size_t child = children_.size();
    std::string url = Start({exe});
    ASSERT_FALSE(BaseOf(url).empty()) << url;
    if (run == 1) {
      port = PortOfUrl(url);
      EXPECT_GT(port, 0) << url;  // derived from the content's identity, unless that was taken
      std::string config = e2e::ReadFile(dir_ + "/config/Trellium/Ports");
      EXPECT_NE(config.find("=" + std::to_string(port) + "\n"), std::string::npos) << config;
      std::string other = Start({Pack("neighbour", "NEIGHBOUR")});
      EXPECT_NE(PortOfUrl(other), port) << other;
      EXPECT_GT(PortOfUrl(other), 0) << other;
    }
    EXPECT_EQ(PortOfUrl(url), port) << "run " << run;
    EXPECT_EQ(TitleInChromium(url, profile), "visits=" + std::to_string(run));
    kill(children_[child].pid, SIGTERM);
    EXPECT_EQ(e2e::WaitExit(children_[child], 10), 0);
  }
}

// Copies of one content started at the same moment (an impatient double-click): one
// serves, every other hands over to it, opens the browser on it and ends with 0.
// CX_INSTANCE_TRIALS raises the number of trials (the figure: 20).
TEST_F(RunnerEndToEnd, SimultaneousStartsGiveOneServer) {
  const char* trialsVariable = std::getenv("CX_INSTANCE_TRIALS");
  const int trials = trialsVariable ? std::atoi(trialsVariable) : 2, copies = 10;
  std::string exe = Pack("many", "MANY");
  int single = 0;
  for (int trial = 0; trial < trials; ++trial) {
    std::string urls = dir_ + "/urls-" + std::to_string(trial);
    std::vector<Child> starts;
    for (int i = 0; i < copies; ++i) {
      starts.push_back(e2e::Spawn({exe}, Env(urls), "/dev/null"));
    }
    // Every start but the serving one ends; a second server would keep the count up
    // until the deadline.
    std::vector<int> codes(starts.size(), -1);
    int ended = 0;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         ended < copies - 1 && std::chrono::steady_clock::now() < deadline;) {
      for (size_t i = 0; i < starts.size(); ++i) {
        if (codes[i] == -1 && (codes[i] = e2e::WaitExit(starts[i], 0)) != -1) ++ended;
      }
      usleep(20 * 1000);
    }
    storage::test::WaitUntil(
        [&] {
          std::string text = e2e::ReadFile(urls);
          return std::count(text.begin(), text.end(), '\n') >= copies;
        },
        10000);
    // Each start opened the browser once, all on the one server's pages.
    std::string opened = e2e::ReadFile(urls);
    std::string first = opened.substr(0, opened.find('\n') + 1);
    std::string expected;
    for (int i = 0; i < copies; ++i) expected += first;
    EXPECT_EQ(opened, expected) << "trial " << trial;
    int serving = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      if (codes[i] != -1) {
        EXPECT_EQ(codes[i], 0) << "trial " << trial;
        continue;
      }
      ++serving;
      EXPECT_NE(Get(BaseOf(first.substr(0, first.size() - 1)) + "index.html").second.find("MANY"),
                std::string::npos);
      kill(starts[i].pid, SIGTERM);
      EXPECT_EQ(e2e::WaitExit(starts[i], 10), 0);
    }
    EXPECT_EQ(serving, 1) << "trial " << trial << ": servers";
    single += serving == 1;
    EXPECT_EQ(RecordCount(records_), 0u);
  }
  std::printf("simultaneous starts: %d of %d trials gave one server\n", single, trials);
}

}  // namespace
