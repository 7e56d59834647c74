// A real browser's WebSocket against the running server: headless Chromium (a test-time
// package). The wire forms are checked byte for byte with a raw client (websocket_e2e_test).
#include <unistd.h>

#include "testing/chromium.h"
#include "testing/clients_fixture.h"
#include "testing/websocket_fixture.h"

namespace storage::e2e {
namespace {

using clients::HaveCommand;
using ::e2e::BinaryDir;

// The page opens a socket, sends an echo and leaves for gone.html when the echo comes back;
// leaving closes the socket. (Closing without a close frame is checked with a raw client.)
TEST_F(WebSocketServerTest, ChromiumLeavingThePageClearsCurrentWebSocket) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  provider_.entries["index.html"] =
      "<!doctype html><script>\n"
      "const ws = new WebSocket('ws://' + location.host + '/socket');\n"
      "ws.onopen = () => ws.send('echo from chromium');\n"
      "ws.onmessage = (e) => { if (e.data === 'echo from chromium') location.href = '/gone.html'; "
      "};\n"
      "</script>";
  provider_.entries["gone.html"] = "<!doctype html>bye";
  test::HeadlessChromium browser("http://127.0.0.1:" + std::to_string(port_) + "/index.html",
                                 BinaryDir() + "/chromium-profile-" + std::to_string(getpid()),
                                 {"--disable-features=BackForwardCache"});
  ASSERT_TRUE(browser.Started());
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1 && handler_.closes == 1; }));
  // The browser's echo came back: it navigates only on receiving it.
  EXPECT_TRUE(provider_.WasRequested("gone.html"));
  ASSERT_FALSE(handler_.Messages().empty());  // then the close frame's payload
  EXPECT_EQ(handler_.Messages().front(), "echo from chromium");
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

}  // namespace
}  // namespace storage::e2e
