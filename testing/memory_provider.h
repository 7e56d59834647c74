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

  bool WasRequested(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    return requested_.count(path) != 0;
  }

  int32_t GetInfo(const std::string& path, HttpMessage& response) override {
    std::lock_guard<std::mutex> hold(lock_);
    requested_.insert(path);
    if (!entries.count(path) && !generated.count(path)) return 404;
    uint64_t size = entries.count(path) ? entries[path].size() : generated[path];
    response.Set("Content-Length", std::to_string(size));
    response.Set("Last-Modified", "Mon, 23 Jul 2012 10:20:30 GMT");
    return 200;
  }
  utils::SharedPtr<utils::ReadStreamI> GetStream(const std::string& path, int32_t& status,
                                                 HttpMessage& streamHeaders) override {
    if (generated.count(path)) {
      return utils::SharedPtr<utils::ReadStreamI>(new PatternStream(generated[path]));
    }
    const std::string& text = entries[path];
    utils::SharedPtr<utils::ByteVector> data(new utils::ByteVector(text.begin(), text.end()));
    return utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(data, u""));
  }

 private:
  std::mutex lock_;
  std::set<std::string> requested_;
};

}  // namespace storage::test
