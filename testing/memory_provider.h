// A provider for the server's tests: named entries in memory, and generated entries whose
// bytes follow a pattern (large bodies without large memory). Remembers the paths asked for.
#pragma once

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "httpserver/http_stream_provider.h"

namespace storage::test {

inline uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i * 31 + i / 251) % 253); }

class PatternStream : public utils::ReadStreamI {
 public:
  explicit PatternStream(uint64_t size) : size_(size) {}
  uint64_t GetSize() override { return size_; }
  using ReadStreamI::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override {
    got = 0;
    while (got < count && position_ < size_)
      static_cast<uint8_t*>(buffer)[got++] = PatternByte(position_++);
    return true;
  }
  int64_t Seek64(int origin, int64_t offset) override {
    int64_t target = utils::SeekTarget(origin, offset, position_, size_);
    if (target >= 0) position_ = static_cast<uint64_t>(target);
    return target;
  }

 private:
  uint64_t size_, position_ = 0;
};

class MapProvider : public HttpStreamProviderI {
 public:
  std::map<std::string, std::string> entries;
  std::map<std::string, uint64_t> generated;
  // Paths refused as unreadable: 500 with "Content-Length: 0" and "Cache-Control: no-store".
  std::set<std::string> unreadable;
  // Content types by extension; any other path is served as "text/html".
  std::map<std::string, std::string> types = {{"mp4", "video/mp4"},
                                              {"js", "application/javascript"},
                                              {"txt", "text/plain"},
                                              {"mnv", "application/x-morvane-navigation"}};

  bool WasRequested(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    return requested_.count(path) != 0;
  }

  // Every path asked for so far.
  std::set<std::string> Requested() {
    std::lock_guard<std::mutex> hold(lock_);
    return requested_;
  }

  ProviderReply Open(const std::string& path) override {
    std::lock_guard<std::mutex> hold(lock_);
    requested_.insert(path);
    ProviderReply reply;
    if (unreadable.count(path)) {
      reply.head.status = 500;
      reply.head.Set("Content-Length", "0");
      reply.head.Set("Cache-Control", "no-store");
      return reply;
    }
    if (generated.count(path)) {
      reply.stream = utils::SharedPtr<utils::ReadStreamI>(new PatternStream(generated[path]));
    } else if (entries.count(path)) {
      const std::string& text = entries[path];
      utils::SharedPtr<utils::ByteVector> data(new utils::ByteVector(text.begin(), text.end()));
      reply.stream = utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(data, u""));
    } else {
      reply.head.status = 404;
      return reply;
    }
    const size_t dot = path.rfind('.');
    const auto type = dot == std::string::npos ? types.end() : types.find(path.substr(dot + 1));
    reply.head.Set("Content-Type", type == types.end() ? "text/html" : type->second);
    reply.head.Set("Content-Length", std::to_string(reply.stream->GetSize()));
    reply.head.Set("Last-Modified", "Mon, 23 Jul 2012 10:20:30 GMT");
    return reply;
  }

 private:
  std::mutex lock_;
  std::set<std::string> requested_;
};

}  // namespace storage::test
