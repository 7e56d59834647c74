// Helpers of the JSON tests: a canonical text of a tree (members sorted by key) and a
// scripted stream.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "json/value.h"
#include "utils/file/streams.h"

namespace json::testing {

// Compact text with the members of every object sorted by UTF-16 code units, so trees
// compare as text whatever the hash map's order.
inline void Canonical(const Value& v, std::u16string& out) {
  if (v.tag == kArrayTag) {
    const auto& a = static_cast<const Array&>(v);
    out += u'[';
    for (size_t i = 0; i < a.size(); ++i) {
      if (i) out += u',';
      Canonical(*a[i], out);
    }
    out += u']';
  } else if (v.tag == kDictTag) {
    std::vector<const Dict::value_type*> members;
    for (const auto& m : static_cast<const Dict&>(v)) members.push_back(&m);
    std::sort(members.begin(), members.end(), [](auto* x, auto* y) { return x->first < y->first; });
    out += u'{';
    for (const Dict::value_type* m : members) {
      if (m != members.front()) out += u',';
      String::WriteQuoted(out, m->first);
      out += u':';
      Canonical(*m->second, out);
    }
    out += u'}';
  } else {
    WriteFormat compact(2);
    v.Write(out, compact);
  }
}

inline std::u16string Canonical(const Value* v) {
  std::u16string out;
  if (v) Canonical(*v, out);
  return v ? out : u"<none>";
}

// A stream over bytes that answers as scripted: whether it reports a size, how many
// bytes one read may give, a size to claim, and whether reads fail. It counts reads.
class ScriptedStream : public utils::MemoryStreamReader {
 public:
  explicit ScriptedStream(std::string data)
      : MemoryStreamReader(data, u"scripted.mnv"), size_(data.size()) {}

  bool sized = true;
  uint32_t piece = 0xFFFFFFFF;
  uint64_t claimedSize = UINT64_MAX;  // UINT64_MAX: the real size
  bool failReads = false;
  int reads = 0;

  uint64_t GetSize() override { return claimedSize == UINT64_MAX ? size_ : claimedSize; }
  using MemoryStreamReader::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override {
    ++reads;
    got = 0;
    if (failReads) return false;
    return MemoryStreamReader::Read(buffer, std::min(count, piece), got);
  }
  bool CheckCacheFlags(uint32_t flags) override {
    return sized && MemoryStreamReader::CheckCacheFlags(flags);
  }

 private:
  uint64_t size_;
};

}  // namespace json::testing
