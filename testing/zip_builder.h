// Test helper: builds ZIP archives byte by byte, so tests can make exactly the records
// (and the damage) they need.
#pragma once

// Tests name only the fields they set (designated initializers).
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "utils/read_stream.h"

namespace amzip::testing {

// Everything a stream gives from where it stands, read in chunks of the given size.
inline std::string ReadAll(utils::ReadStreamI& stream, uint32_t chunk = 65536) {
  std::string out, buffer(chunk, '\0');
  while (uint32_t got = stream.Read(buffer.data(), chunk)) out.append(buffer, 0, got);
  return out;
}

inline void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void Put16(std::string& out, uint64_t v) { PutLe(out, v, 2); }
inline void Put32(std::string& out, uint64_t v) { PutLe(out, v, 4); }
inline void Put64(std::string& out, uint64_t v) { PutLe(out, v, 8); }
// A run of fields of one width.
inline void Put16(std::string& out, std::initializer_list<uint64_t> vs) {
  for (uint64_t v : vs) Put16(out, v);
}
inline void Put32(std::string& out, std::initializer_list<uint64_t> vs) {
  for (uint64_t v : vs) Put32(out, v);
}
// Overwrites bytes at `at` with a little-endian value.
inline void Patch(std::string& bytes, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// Bytes that deflate cannot shrink.
inline std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = char(random());
  return bytes;
}

inline std::string RawDeflate(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), data.size(), 6);
  return out.substr(2, size - 6);  // without the zlib header and checksum
}

struct TestEntry {
  std::string name;
  std::string data;     // uncompressed content
  uint16_t method = 0;  // 0 stored, 8 deflated, anything else written as stored bytes
  uint16_t flags = 0;
  uint16_t versionNeeded = 20;
  uint16_t modTime = 0x6000;  // 12:00:00
  uint16_t modDate = 0x5021;  // 2020-01-01
  std::string centralExtra;
  std::string localExtra;
  std::optional<std::string> payload;  // the compressed bytes, when not made from data
  // Overrides of central header fields (when set).
  int64_t compressedSize = -1, uncompressedSize = -1, localHeaderOffset = -1;
  uint16_t diskStart = 0;
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
  bool adjustOffsetsForPrefix = false;  // offsets count from the start of prefix
  std::string beforeCentral;            // records between the data and the central directory
};

inline BuiltZip BuildZip(const std::vector<TestEntry>& entries, const ZipOptions& o = {}) {
  BuiltZip z;
  std::string& out = z.bytes;
  out = o.prefix;
  uint64_t shift = o.adjustOffsetsForPrefix ? 0 : o.prefix.size();
  std::vector<std::string> payloads;
  std::vector<uint32_t> crcs;
  // The fields from "version needed" to "name length" the two headers share; the local
  // header of an entry with a data descriptor has zero CRC and sizes.
  auto common = [&](const TestEntry& e, size_t i, bool local) {
    bool zeroed = local && e.descriptor;
    Put16(out,
          {e.versionNeeded, e.flags | (e.descriptor ? 8u : 0u), e.method, e.modTime, e.modDate});
    uint64_t compressed = !local && e.compressedSize >= 0 ? e.compressedSize : payloads[i].size();
    uint64_t size = !local && e.uncompressedSize >= 0 ? e.uncompressedSize : e.data.size();
    Put32(out, {zeroed ? 0 : crcs[i], zeroed ? 0 : compressed, zeroed ? 0 : size});
    Put16(out, e.name.size());
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    payloads.push_back(e.payload ? *e.payload : e.method == 8 ? RawDeflate(e.data) : e.data);
    crcs.push_back(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size())));
    z.localOffsets.push_back(out.size() - shift);
    Put32(out, 0x04034b50);
    common(e, i, true);
    Put16(out, e.localExtra.size());
    out += e.name + e.localExtra + payloads[i];
    if (e.descriptor) Put32(out, {0x08074b50, crcs[i], payloads[i].size(), e.data.size()});
  }
  out += o.beforeCentral;
  z.centralOffset = out.size() - shift;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    Put32(out, 0x02014b50);
    Put16(out, 0x031E);
    common(e, i, false);
    Put16(out, {e.centralExtra.size(), 0, e.diskStart, 0});
    Put32(out, {0, e.localHeaderOffset >= 0 ? uint64_t(e.localHeaderOffset) : z.localOffsets[i]});
    out += e.name + e.centralExtra;
  }
  uint64_t cdSize = out.size() - shift - z.centralOffset;
  z.endOffset = out.size();
  Put32(out, 0x06054b50);
  Put16(out, {uint64_t(o.thisDisk), uint64_t(o.cdDisk), entries.size(), entries.size()});
  Put32(out, {cdSize, z.centralOffset});
  Put16(out, o.comment.size());
  out += o.comment;
  return z;
}

// A ZIP64 extended-information block holding the given 64-bit values.
inline std::string Zip64Block(const std::vector<uint64_t>& values) {
  std::string block;
  Put16(block, {0x0001, values.size() * 8});
  for (uint64_t v : values) Put64(block, v);
  return block;
}

}  // namespace amzip::testing
