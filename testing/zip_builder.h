// Test helper: builds ZIP archives byte by byte, so tests can make exactly the records
// (and the damage) they need.
#pragma once

// Tests name only the fields they set (designated initializers).
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace amzip::testing {

inline void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

inline std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream s = {};
  deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

struct TestEntry {
  std::string name;
  std::string data;     // uncompressed content
  uint16_t method = 0;  // 0 stored, 8 deflated, anything else written as stored bytes
  uint16_t flags = 0;
  uint16_t versionNeeded = 20;
  uint16_t modTime = 0x6000;  // 12:00:00
  uint16_t modDate = 0x5021;  // 2020-01-01
  uint32_t externalAttributes = 0;
  std::string centralExtra;
  std::string localExtra;
  std::string payload;  // overrides the compressed bytes when not empty
  bool overridePayload = false;
  // Overrides of central header fields (when set).
  int64_t compressedSize = -1, uncompressedSize = -1, localHeaderOffset = -1;
  int32_t diskStart = -1;
  bool descriptor = false;  // bit 3 with sizes 0 in the local header and a descriptor
};

struct BuiltZip {
  std::string bytes;
  std::vector<uint64_t> localOffsets;
  uint64_t centralOffset = 0;
  uint64_t endOffset = 0;
};

struct ZipOptions {
  std::string comment;
  std::string prefix;  // bytes before the archive (offsets not adjusted)
  int32_t thisDisk = 0, cdDisk = 0;
  int64_t cdOffsetOverride = -1;
  bool adjustOffsetsForPrefix = false;  // offsets count from the start of prefix
  std::string beforeCentral;            // records between the data and the central directory
};

inline BuiltZip BuildZip(const std::vector<TestEntry>& entries, const ZipOptions& o = {}) {
  BuiltZip z;
  std::string& out = z.bytes;
  out = o.prefix;
  uint64_t shift = o.adjustOffsetsForPrefix ? 0 : o.prefix.size();
  std::vector<std::string> payloads;
  for (const TestEntry& e : entries) {
    std::string payload = e.overridePayload ? e.payload
                          : e.method == 8   ? RawDeflate(e.data)
                                            : e.data;
    payloads.push_back(payload);
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    z.localOffsets.push_back(out.size() - shift);
    Put32(out, 0x04034b50);
    Put16(out, e.versionNeeded);
    uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0));
    Put16(out, flags);
    Put16(out, e.method);
    Put16(out, e.modTime);
    Put16(out, e.modDate);
    Put32(out, e.descriptor ? 0 : crc);
    Put32(out, e.descriptor ? 0 : static_cast<uint32_t>(payload.size()));
    Put32(out, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, static_cast<uint32_t>(e.localExtra.size()));
    out += e.name + e.localExtra + payload;
    if (e.descriptor) {
      Put32(out, 0x08074b50);
      Put32(out, crc);
      Put32(out, static_cast<uint32_t>(payload.size()));
      Put32(out, static_cast<uint32_t>(e.data.size()));
    }
  }
  out += o.beforeCentral;
  z.centralOffset = out.size() - shift;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    Put32(out, 0x02014b50);
    Put16(out, 0x031E);
    Put16(out, e.versionNeeded);
    Put16(out, static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0)));
    Put16(out, e.method);
    Put16(out, e.modTime);
    Put16(out, e.modDate);
    Put32(out, crc);
    Put32(out,
          static_cast<uint32_t>(e.compressedSize >= 0 ? e.compressedSize : payloads[i].size()));
    Put32(out, static_cast<uint32_t>(e.uncompressedSize >= 0 ? e.uncompressedSize : e.data.size()));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, static_cast<uint32_t>(e.centralExtra.size()));
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(e.diskStart >= 0 ? e.diskStart : 0));
    Put16(out, 0);
    Put32(out, e.externalAttributes);
    Put32(out, static_cast<uint32_t>(e.localHeaderOffset >= 0 ? e.localHeaderOffset
                                                              : z.localOffsets[i]));
    out += e.name + e.centralExtra;
  }
  uint64_t cdSize = out.size() - shift - z.centralOffset;
  z.endOffset = out.size();
  Put32(out, 0x06054b50);
  Put16(out, o.thisDisk);
  Put16(out, o.cdDisk);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(cdSize));
  Put32(out, static_cast<uint32_t>(o.cdOffsetOverride >= 0 ? o.cdOffsetOverride : z.centralOffset));
  Put16(out, static_cast<uint32_t>(o.comment.size()));
  out += o.comment;
  return z;
}

// A ZIP64 extended-information block holding the given 64-bit values.
inline std::string Zip64Block(const std::vector<uint64_t>& values) {
  std::string block;
  Put16(block, 0x0001);
  Put16(block, static_cast<uint32_t>(values.size() * 8));
  for (uint64_t v : values) Put64(block, v);
  return block;
}

}  // namespace amzip::testing
