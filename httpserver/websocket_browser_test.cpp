// Real WebSocket clients against the running server: the `ws` package of Node.js and a
// headless Chromium. Both are test-time packages (nodejs, npm, chromium); `ws` is
// installed into the build folder on first use.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "testing/chromium.h"
#include "testing/clients_fixture.h"
#include "testing/websocket_fixture.h"

namespace storage::e2e {
namespace {

using clients::HaveCommand;
using ::e2e::BinaryDir;

const char kNodeClient[] = R"JS(
const WebSocket = require('ws');
const ws = new WebSocket(process.argv[2]);
const out = {open: false, messages: [], pong: null, close: null};
ws.on('open', () => {
  out.open = true;
  ws.send('echo Hello');
  ws.send('echo' + 'x'.repeat(69996));
  ws.ping('pp');
});
ws.on('message', (data) => {
  out.messages.push(data.length + ':' + data.toString().slice(0, 10));
  if (out.messages.length === 2) ws.close(1000, 'bye');
});
ws.on('pong', (data) => { out.pong = data.toString(); });
ws.on('close', (code) => { out.close = code; console.log(JSON.stringify(out)); process.exit(0); });
ws.on('error', (e) => { console.log(JSON.stringify({error: String(e)})); process.exit(1); });
setTimeout(() => { console.log(JSON.stringify({timeout: out})); process.exit(2); }, 10000);
)JS";

TEST_F(WebSocketServerTest, NodeWsClientHandshakeEchoPingAndClose) {
  if (!HaveCommand("node") || !HaveCommand("npm")) GTEST_SKIP() << "node/npm not installed";
  const std::string prefix = BinaryDir() + "/node-ws";
  if (!std::ifstream(prefix + "/node_modules/ws/package.json") &&
      std::system(
          ("npm install --silent --no-audit --no-fund --prefix '" + prefix + "' ws >/dev/null 2>&1")
              .c_str()) != 0) {
    GTEST_SKIP() << "npm could not install ws";
  }
  const std::string script = BinaryDir() + "/websocket_node_client.js";
  std::ofstream(script) << kNodeClient;
  EXPECT_EQ(clients::Shell("NODE_PATH='" + prefix + "/node_modules' node '" + script +
                           "' ws://127.0.0.1:" + std::to_string(port_) + "/ws"),
            "{\"open\":true,\"messages\":[\"10:echo Hello\",\"70000:echoxxxxxx\"],"
            "\"pong\":\"pp\",\"close\":1000}\n");
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.opens, 1);
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

// The page opens a socket and sends an echo; it leaves for gone.html when the echo comes
// back if `leave` is set, or stays until the browser is closed.
std::string Page(bool leave) {
  return std::string(
             "<!doctype html><script>\n"
             "const ws = new WebSocket('ws://' + location.host + '/socket');\n"
             "ws.onopen = () => ws.send('echo from chromium');\n") +
         (leave ? "ws.onmessage = (e) => { if (e.data === 'echo from chromium') "
                  "location.href = '/gone.html'; };\n"
                : "") +
         "</script>";
}

class ChromiumWebSocketTest : public WebSocketServerTest {
 protected:
  void Open(bool leave) {
    provider_.entries["index.html"] = Page(leave);
    provider_.entries["gone.html"] = "<!doctype html>bye";
    browser_ = std::make_unique<test::HeadlessChromium>(
        "http://127.0.0.1:" + std::to_string(port_) + "/index.html",
        BinaryDir() + "/chromium-profile-" + std::to_string(getpid()),
        std::vector<std::string>{"--disable-features=BackForwardCache"});
    ASSERT_TRUE(browser_->Started());
  }
  void TearDown() override {
    browser_.reset();
    WebSocketServerTest::TearDown();
  }
  std::unique_ptr<test::HeadlessChromium> browser_;
};

TEST_F(ChromiumWebSocketTest, LeavingThePageClearsCurrentWebSocket) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  Open(true);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1 && handler_.closes == 1; }));
  // The browser's echo came back: it navigates only on receiving it.
  EXPECT_TRUE(provider_.WasRequested("gone.html"));
  ASSERT_FALSE(handler_.Messages().empty());  // then the close frame's payload
  EXPECT_EQ(handler_.Messages().front(), "echo from chromium");
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

TEST_F(ChromiumWebSocketTest, ClosingChromiumClearsCurrentWebSocket) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  Open(false);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == 1; }));
  EXPECT_NE(handler_.currentWebSocket.load(), nullptr);
  EXPECT_EQ(handler_.closes, 0);
  browser_->Kill();
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

}  // namespace
}  // namespace storage::e2e
