// Headless Chromium against the served archive, through a recording relay that keeps
// every request and response head: a page whose links are root-relative and name folders
// loads all its resources; a long WebM is played and seeked by script, and the range
// requests the media stack makes are answered from the offset asked for. (The bytes of
// ranges are compared with the entry in clients_test; here the browser's seeks land only
// if they are right.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "httpserver/http_server.h"
#include "testing/chromium.h"
#include "testing/memory_provider.h"
#include "testing/clients_fixture.h"
#include "testing/recording_relay.h"
#include "testing/test_client.h"

namespace storage::clients {
namespace {

constexpr char kPage[] = R"(<!doctype html><body>
<video id=v preload=metadata muted src="media/long.webm"></video><script>
const v = document.getElementById('v');
const seeks = [200, 100], times = [];
function report(q) { fetch('report?' + q).catch(() => {}); }
v.addEventListener('loadedmetadata', () => { v.currentTime = seeks[0]; });
v.addEventListener('seeked', () => {
  times.push(v.currentTime);
  if (times.length < seeks.length) v.currentTime = seeks[times.length];
  else report('done&t1=' + times[0] + '&t2=' + times[1] + '&rs=' + v.readyState +
              '&dur=' + v.duration + '&');
});
v.addEventListener('error', () => report('error&code=' + (v.error ? v.error.code : -1) + '&'));
</script>)";

// The number after "name=" in a report request line, or -1.
double Field(const std::string& request, const std::string& name) {
  size_t at = request.find("&" + name + "=");
  return at == std::string::npos ? -1 : std::atof(request.c_str() + at + name.size() + 2);
}

// The start page as static-site generators write it: style sheet, script and image by
// root-relative links, and two folders (one relative, one root-relative) in frames.
constexpr char kLinkedPage[] = R"(<!doctype html><title>Start</title>
<link rel=stylesheet href="/css/site.css"><script src="/js/app.js"></script>
<body><img id=i src="/img/dot.svg"><iframe id=g src="guide/"></iframe>
<iframe id=d src="/docs/"></iframe><script>
window.addEventListener('load', () => {
  const title = (id) => document.getElementById(id).contentDocument.title;
  const guide = document.getElementById('g').contentDocument;
  fetch('report?css=' + getComputedStyle(document.body).marginLeft + '&js=' + window.appRan +
        '&img=' + document.getElementById('i').naturalWidth + '&guide=' + title('g') +
        '&guidecss=' + getComputedStyle(guide.body).marginLeft + '&docs=' + title('d') + '&');
});
</script>)";

TEST(ClientsBrowserTest, RootRelativeAndFolderLinksAllLoad) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  const std::string dir = MakeTempDir();
  ServedContent content({
      {"index.html", kLinkedPage},
      {"css/site.css", "body { margin-left: 17px }"},
      // Long enough that zip deflates it: it then goes out in gzip form.
      {"js/app.js", "window.appRan = 'yes';\n/*" + ScriptText(20000) + "*/"},
      {"img/dot.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='3'/>"},
      {"guide/index.html", "<title>Guide</title><link rel=stylesheet href='../css/guide.css'>"},
      {"css/guide.css", "body { margin-left: 23px }"},
      {"docs/index.html", "<title>Docs</title>"},
  });
  ASSERT_TRUE(content.Ok());
  RecordingProxy proxy(content.Port());
  ASSERT_NE(proxy.Port(), 0);
  {
    // The run prefix without its slash: redirected to the folder, which serves its index.
    test::HeadlessChromium browser("http://127.0.0.1:" + std::to_string(proxy.Port()) + "/" +
                                       content.Prefix().substr(0, content.Prefix().size() - 1),
                                   dir + "/profile");
    ASSERT_TRUE(browser.Started());
    const std::string report = proxy.WaitForRequest("/report?", 60000);
    EXPECT_NE(report.find("?css=17px&js=yes&img=3&guide=Guide&guidecss=23px&docs=Docs&"),
              std::string::npos)
        << report;
  }
  bool gzipScript = false;
  for (const Exchange& e : proxy.Exchanges()) {
    if (e.request.rfind("GET /js/app.js ", 0) == 0) {
      gzipScript = e.responseHead.find("\r\nContent-Encoding: gzip\r\n") != std::string::npos;
    }
    if (e.request.find("/report?") != std::string::npos || e.responseHead.empty() ||
        e.request.find("/favicon.ico") != std::string::npos) {
      continue;  // the report and the icon a browser may ask for are not in the content
    }
    const bool redirect = e.request.rfind("GET /c0ffee HTTP/1.1", 0) == 0;
    EXPECT_EQ(e.responseHead.substr(0, 12), redirect ? "HTTP/1.1 301" : "HTTP/1.1 200")
        << e.request;
  }
  EXPECT_TRUE(gzipScript);
  RemoveTree(dir);
}

TEST(ClientsBrowserTest, ChromiumSeeksInAVideoThroughRanges) {
  for (const char* tool : {"chromium", "ffmpeg"}) {
    if (!HaveCommand(tool)) GTEST_SKIP() << tool << " not installed";
  }
  std::string dir = MakeTempDir();
  // Four minutes of the demo clip, copied without re-encoding: large enough that the
  // browser cannot have it all when it seeks.
  int code = 0;
  std::string out = Shell("ffmpeg -v error -y -stream_loop 59 -i " +
                              Quote(SourceDir() + "/examples/demo/media/clip.webm") + " -c copy " +
                              Quote(dir + "/long.webm") + " 2>&1",
                          &code);
  ASSERT_EQ(code, 0) << out;
  std::map<std::string, std::string> entries = {{"index.html", kPage},
                                                {"media/long.webm", ReadFile(dir + "/long.webm")}};
  const uint64_t size = entries["media/long.webm"].size();
  ASSERT_GT(size, 4u << 20);
  {
    ServedContent content(entries);
    ASSERT_TRUE(content.Ok());
    RecordingProxy proxy(content.Port());
    ASSERT_NE(proxy.Port(), 0);
    test::HeadlessChromium browser(
        "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/" + content.Prefix() + "index.html",
        dir + "/profile", {"--autoplay-policy=no-user-gesture-required"});
    ASSERT_TRUE(browser.Started());

    const std::string report = proxy.WaitForRequest("/report?", 90000);
    ASSERT_NE(report.find("/report?done"), std::string::npos) << "no seeks done: " << report;
    EXPECT_NEAR(Field(report, "t1"), 200, 0.5);
    EXPECT_NEAR(Field(report, "t2"), 100, 0.5);
    EXPECT_GE(Field(report, "rs"), 1);
    EXPECT_NEAR(Field(report, "dur"), 240, 1);

    int ranged = 0, nearSeek = 0;
    for (const Exchange& e : proxy.Exchanges()) {
      if (e.request.find("/media/long.webm") == std::string::npos) continue;
      SCOPED_TRACE(e.request + "\n--\n" + e.responseHead);
      size_t at = e.request.find("\r\nRange: bytes=");
      if (at == std::string::npos) continue;
      ++ranged;
      uint64_t start = std::strtoull(e.request.c_str() + at + 15, nullptr, 10);
      if (e.responseHead.empty()) continue;  // abandoned before the answer
      EXPECT_EQ(e.responseHead.rfind(start ? "HTTP/1.1 206 " : "HTTP/1.1 20", 0), 0u);
      EXPECT_NE(e.responseHead.find("\r\nContent-Range: bytes " + std::to_string(start) + "-"),
                std::string::npos);
      if (start > size * 7 / 10 && start < size * 9 / 10) ++nearSeek;
    }
    EXPECT_GE(ranged, 2);
    // The seek to 200 s of 240 had to fetch from about five sixths into the file.
    EXPECT_GE(nearSeek, 1);
  }
  RemoveTree(dir);
}

// A page that tries to read the content at TARGET across origins (fetch of a text entry,
// a WebSocket) and reports what it got to REPORT + "/report/" + TAG + "/...".
std::string ProbePage(const std::string& target, const std::string& report,
                      const std::string& tag) {
  return R"(<!doctype html><script>
const out = {};
const done = () => fetch(')" + report + "/report/" + tag + R"(/fetch=' + out.fetch + ',ws=' + out.ws,
                         {mode: 'no-cors'});
fetch(')" + target + R"(/secret.txt').then(r => r.text()).then(t => { out.fetch = t; },
                                                              () => { out.fetch = 'blocked'; })
  .then(() => {
    const ws = new WebSocket(')" + target + R"('.replace('http', 'ws') + '/ws');
    ws.onopen = () => { out.ws = 'open'; ws.close(); done(); };
    ws.onerror = () => { out.ws = 'blocked'; done(); };
  });
</script>)";
}

// The report path under "report/" + tag a provider was asked for, waiting up to ms;
// empty when none came.
std::string WaitForProbe(test::MapProvider& provider, const std::string& tag, int ms) {
  std::string report;
  test::WaitUntil(
      [&] {
        for (const std::string& path : provider.Requested()) {
          if (path.rfind("report/" + tag + "/", 0) == 0) report = path;
        }
        return !report.empty();
      },
      ms);
  return report;
}

// The trust boundary as a browser meets it: a page of another loopback port and an HTML
// file opened from disk read nothing and open no WebSocket; the content's own pages (also
// under its other loopback name) keep fetch, XHR and WebSocket; with the opt-in the
// foreign page reads.
TEST(ClientsBrowserTest, OtherOriginsReadNothingUnlessTheAuthorAllows) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  const std::string dir = MakeTempDir();
  test::MapProvider content, foreign;
  content.entries["secret.txt"] = "SECRET";
  HttpServer contentServer(false), foreignServer(false);
  const std::string a = std::to_string(test::PortOf(contentServer.Start(-1, u"")));
  const std::string b = std::to_string(test::PortOf(foreignServer.Start(-1, u"")));
  contentServer.SetProvider(&content);
  foreignServer.SetProvider(&foreign);
  // The content's own page, loaded as 127.0.0.1, reads through its localhost name too.
  content.entries["own.html"] = R"(<!doctype html><script>
const x = new XMLHttpRequest();
x.open('GET', '/secret.txt', false);
x.send();
const out = {xhr: x.responseText};
fetch('http://localhost:)" + a + R"(/secret.txt').then(r => r.text())
  .then(t => { out.fetch = t; }, () => { out.fetch = 'blocked'; }).then(() => {
    const ws = new WebSocket('ws://' + location.host + '/ws');
    ws.onopen = () => { out.ws = 'open'; ws.close(); report(); };
    ws.onerror = () => { out.ws = 'blocked'; report(); };
  });
const report = () => fetch('/report/own/fetch=' + out.fetch + ',xhr=' + out.xhr + ',ws=' + out.ws);
</script>)";
  foreign.entries["probe.html"] = ProbePage("http://localhost:" + a, "", "port");
  foreign.entries["optin.html"] = ProbePage("http://localhost:" + a, "", "optin");
  WriteFile(dir + "/probe.html", ProbePage("http://localhost:" + a, "http://127.0.0.1:" + b, "file"));
  struct Run {
    std::string url;
    test::MapProvider* reports;
    const char* tag;
    const char* expected;
  } runs[] = {
      {"http://127.0.0.1:" + a + "/own.html", &content, "own",
       "report/own/fetch=SECRET,xhr=SECRET,ws=open"},
      {"http://127.0.0.1:" + b + "/probe.html", &foreign, "port",
       "report/port/fetch=blocked,ws=blocked"},
      {"file://" + dir + "/probe.html", &foreign, "file", "report/file/fetch=blocked,ws=blocked"},
  };
  for (const Run& run : runs) {
    test::HeadlessChromium browser(run.url, dir + "/profile-" + run.tag);
    ASSERT_TRUE(browser.Started());
    EXPECT_EQ(WaitForProbe(*run.reports, run.tag, 60000), run.expected) << run.url;
  }
  // The author's opt-in (or the user's setting) opens the content to every page.
  contentServer.Stop();
  contentServer.options.crossOriginAny = true;
  contentServer.Start(std::stoi(a), u"");
  test::HeadlessChromium browser("http://127.0.0.1:" + b + "/optin.html", dir + "/profile-optin");
  ASSERT_TRUE(browser.Started());
  EXPECT_EQ(WaitForProbe(foreign, "optin", 60000), "report/optin/fetch=SECRET,ws=open");
}

}  // namespace
}  // namespace storage::clients
