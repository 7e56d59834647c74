// Helpers of the JSON tests: a canonical text of a tree (members sorted by key) and a
// scripted stream.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "json/value.h"
#include "utils/read_stream.h"

namespace json::testing {

// Compact text with the members of every object sorted by UTF-16 code units, so trees
// compare as text whatever the hash map's order.
inline void Canonical(const Value& v, std::u16string& out) {
  WriteFormat compact(2);
  if (v.tag == kArrayTag) {
    const auto& a = static_cast<const Array&>(v);
    out += u'[';
    for (size_t i = 0; i < a.size(); ++i) {
      if (i) out += u',';
      Canonical(*a[i], out);
    }
    out += u']';
  } else if (v.tag == kDictTag) {
    const auto& d = static_cast<const Dict&>(v);
    std::vector<const Dict::value_type*> members;
    for (const auto& m : d) members.push_back(&m);
    std::sort(members.begin(), members.end(), [](auto* x, auto* y) { return x->first < y->first; });
    out += u'{';
    for (size_t i = 0; i < members.size(); ++i) {
      if (i) out += u',';
      String::WriteQuoted(out, members[i]->first);
      out += u':';
      Canonical(*members[i]->second, out);
    }
    out += u'}';
  } else {
    v.Write(out, compact);
  }
}

inline std::u16string Canonical(const Value* v) {
  std::u16string out;
  if (v) Canonical(*v, out);
  return v ? out : u"<none>";
}

// A stream over bytes that answers as scripted: whether it reports a size, how many
// bytes one read may give, a size to claim, and whether reads fail.
class ScriptedStream : public utils::ReadStreamI {
 public:
  explicit ScriptedStream(std::string data) : data_(std::move(data)) {}

  bool sized = true;
  uint32_t piece = 0xFFFFFFFF;
  uint64_t claimedSize = UINT64_MAX;  // UINT64_MAX: the real size
  bool failReads = false;
  int reads = 0;

  bool IsOpen() override { return true; }
  uint64_t GetSize() override { return claimedSize == UINT64_MAX ? data_.size() : claimedSize; }
  uint32_t Read(void* buffer, uint32_t count) override {
    uint32_t got = 0;
    Read(buffer, count, got);
    return got;
  }
  bool Read(void* buffer, uint32_t count, uint32_t& got) override {
    ++reads;
    size_t n = failReads ? 0 : std::min<size_t>({count, piece, data_.size() - pos_});
    got = static_cast<uint32_t>(n);
    std::memcpy(buffer, data_.data() + pos_, got);
    pos_ += got;
    return !failReads;
  }
  bool ReadByte(uint8_t& out) override { return Read(&out, 1) == 1; }
  uint32_t Seek(int origin, int32_t offset) override { return uint32_t(Seek64(origin, offset)); }
  int64_t Seek64(int origin, int64_t offset) override {
    pos_ = static_cast<size_t>(utils::UnboundedSeek(origin, offset, pos_, data_.size()));
    return static_cast<int64_t>(pos_);
  }
  void Close() override {}
  bool CheckCacheFlags(uint32_t flags) override { return sized && (flags & 7) == flags; }
  const std::u16string& GetName() override { return name_; }

 private:
  std::string data_;
  size_t pos_ = 0;
  std::u16string name_ = u"scripted.mnv";
};

}  // namespace json::testing
