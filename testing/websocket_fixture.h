// A running server with a recording WebSocket handler, for the end-to-end tests: a page
// provider, a handler that records what the network thread told it, and helpers to wait
// for it from the test thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "httpserver/http_server.h"
#include "testing/test_client.h"
#include "httpserver/websocket.h"
#include "utils/read_stream.h"

namespace storage::e2e {

// Entries in memory; remembers every path asked for.
class PageProvider : public HttpStreamProviderI {
 public:
  std::map<std::string, std::string> pages;

  int32_t GetInfo(const std::string& path, HttpMessage& response) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.insert(path);
    auto it = pages.find(path);
    if (it == pages.end()) return 404;
    response.Set("Content-Length", std::to_string(it->second.size()));
    return 200;
  }
  utils::SharedPtr<utils::ReadStreamI> GetStream(const std::string& path, int32_t& status,
                                                 HttpMessage&) override {
    auto it = pages.find(path);
    if (it == pages.end()) return {};
    utils::SharedPtr<utils::ByteVector> bytes(
        new utils::ByteVector(it->second.begin(), it->second.end()));
    return utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(bytes, u""));
  }
  bool WasRequested(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_.count(path) != 0;
  }

 private:
  std::mutex mutex_;
  std::set<std::string> requested_;
};

// The server's own handler behaviour, plus a record of the events and an echo: a message
// starting with "echo" is sent back as it came (through Send, on the network thread).
class RecordingHandler : public WebSockServerHandler {
 public:
  int OnOpen(const std::string& text, WebSockConnectionI* c) override {
    WebSockServerHandler::OnOpen(text, c);
    Note([&] { ++opens; });
    return 0;
  }
  int OnMessage(const std::string& text, WebSockConnectionI* c, const std::string& m) override {
    if (m.rfind("echo", 0) == 0) sendResults.push_back(c->Send(m));
    Note([&] { messages.push_back(m); });
    return 0;
  }
  int OnClose(WebSockConnectionI* c) override {
    WebSockServerHandler::OnClose(c);
    Note([&] { ++closes; });
    return 0;
  }

  // Waits up to 10 seconds for pred (evaluated under the lock).
  bool WaitFor(const std::function<bool()>& pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), pred);
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages;
  }

  // Guarded by the lock (WaitFor's predicate runs under it).
  int opens = 0;
  int closes = 0;
  std::vector<std::string> messages;
  std::vector<bool> sendResults;  // network thread only

 private:
  void Note(const std::function<void()>& change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
};

class WebSocketServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.SetWebSocketHandler(&handler_);
    port_ = test::PortOf(server_.Start(-1, u""));
    server_.SetProvider(&provider_);
  }
  void TearDown() override { server_.Stop(); }

  RecordingHandler handler_;
  PageProvider provider_;
  HttpServer server_{false};
  uint16_t port_ = 0;
};

}  // namespace storage::e2e
