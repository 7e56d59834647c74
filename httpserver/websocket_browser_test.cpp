// Real WebSocket clients against the running server: the `ws` package of Node.js and a
// headless Chromium. Both are test-time packages (nodejs, npm, chromium); `ws` is
// installed into the build folder on first use.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "testing/chromium.h"
#include "testing/websocket_fixture.h"

extern char** environ;

namespace storage::e2e {
namespace {

std::string BinaryDir() {
  const char* dir = std::getenv("CX_BINARY_DIR");
  return dir ? dir : ".";
}

std::string RunAndCapture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool HaveCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The folder holding node_modules/ws, installing it there when missing; empty on failure.
std::string NodeModules() {
  const std::string prefix = BinaryDir() + "/node-ws";
  std::ifstream probe(prefix + "/node_modules/ws/package.json");
  if (!probe && std::system(("npm install --silent --no-audit --no-fund --prefix '" + prefix +
                             "' ws >/dev/null 2>&1")
                                .c_str()) != 0)
    return "";
  return prefix + "/node_modules";
}

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
  const std::string modules = NodeModules();
  if (modules.empty()) GTEST_SKIP() << "npm could not install ws";
  const std::string script = BinaryDir() + "/websocket_node_client.js";
  std::ofstream(script) << kNodeClient;
  const std::string out = RunAndCapture("NODE_PATH='" + modules + "' node '" + script +
                                        "' ws://127.0.0.1:" + std::to_string(port_) + "/ws");
  EXPECT_EQ(out,
            "{\"open\":true,\"messages\":[\"10:echo Hello\",\"70000:echoxxxxxx\"],"
            "\"pong\":\"pp\",\"close\":1000}\n");
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.opens, 1);
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

const char kOpenAndLeave[] = R"(<!doctype html><script>
const ws = new WebSocket('ws://' + location.host + '/socket');
ws.onopen = () => ws.send('echo from chromium');
ws.onmessage = (e) => { if (e.data === 'echo from chromium') location.href = '/gone.html'; };
</script>)";
const char kOpenAndStay[] = R"(<!doctype html><script>
const ws = new WebSocket('ws://' + location.host + '/socket');
ws.onopen = () => ws.send('echo staying');
</script>)";

TEST_F(WebSocketServerTest, ChromiumOpensAndLeavingThePageClearsCurrentWebSocket) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  provider_.pages["index.html"] = kOpenAndLeave;
  provider_.pages["gone.html"] = "<!doctype html>bye";
  test::HeadlessChromium browser("http://127.0.0.1:" + std::to_string(port_) + "/index.html",
                                 BinaryDir() + "/chromium-profile-" + std::to_string(getpid()),
                                 {"--disable-features=BackForwardCache"});
  ASSERT_TRUE(browser.Started());
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1 && handler_.closes == 1; }))
      << "opens " << handler_.opens << " closes " << handler_.closes << " left page "
      << provider_.WasRequested("gone.html");
  EXPECT_TRUE(provider_.WasRequested("gone.html"));
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
  // The browser's echo came back (it navigated only on receiving it).
  ASSERT_FALSE(handler_.Messages().empty());
  EXPECT_EQ(handler_.Messages().front(), "echo from chromium");
}

TEST_F(WebSocketServerTest, ClosingChromiumClearsCurrentWebSocket) {
  if (!HaveCommand("chromium")) GTEST_SKIP() << "chromium not installed";
  provider_.pages["index.html"] = kOpenAndStay;
  test::HeadlessChromium browser("http://127.0.0.1:" + std::to_string(port_) + "/index.html",
                                 BinaryDir() + "/chromium-profile-" + std::to_string(getpid()),
                                 {"--disable-features=BackForwardCache"});
  ASSERT_TRUE(browser.Started());
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == 1; }));
  EXPECT_NE(handler_.currentWebSocket.load(), nullptr);
  EXPECT_EQ(handler_.closes, 0);
  browser.Kill();
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

}  // namespace
}  // namespace storage::e2e
