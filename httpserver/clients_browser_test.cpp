// Headless Chromium plays a long WebM from the archive and seeks in it by script; a
// recording relay between browser and server sees the range requests the media stack
// makes and that each is answered from the offset asked for. (The bytes of ranges are
// compared with the entry in clients_test; here the browser's seeks land only if they
// are right.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/chromium.h"
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

    // The page's report, as the relay saw it.
    std::string report;
    test::WaitUntil(
        [&] {
          for (const Exchange& e : proxy.Exchanges()) {
            if (e.request.find("/report?") != std::string::npos) report = e.request;
          }
          return !report.empty();
        },
        90000);
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

}  // namespace
}  // namespace storage::clients
