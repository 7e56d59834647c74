#include "tools/pack/zip_writer.h"

#include <zlib.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>

namespace pack {
namespace {

constexpr size_t kBlock = 256 * 1024;
constexpr uint16_t kUtf8Flag = 0x0800;
// Made by: Unix (3), ZIP 3.0; regular file rw-r--r--, so unzip gives sane permissions.
constexpr uint16_t kVersionMadeBy = 0x031E;
constexpr uint32_t kExternalAttributes = 0100644u << 16;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;

void Put16(std::string& b, uint16_t v) {
  b.push_back(char(v));
  b.push_back(char(v >> 8));
}
void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(char(v >> (8 * i)));
}
uint16_t VersionNeeded(Method method) { return method == Method::Deflated ? 20 : 10; }

}  // namespace

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return (1 << 21) | (1 << 16);  // 1980-01-01 00:00:00
  if (year > 2107) return (127u << 25) | (12 << 21) | (31 << 16) | (23 << 11) | (59 << 5) | 29;
  return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
         uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
}

uint32_t DosDateTimeOf(std::filesystem::file_time_type time) {
  auto system = std::chrono::file_clock::to_sys(time);
  std::time_t t = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return DosDateTime(1980, 1, 1, 0, 0, 0);
#else
  if (!localtime_r(&t, &local)) return DosDateTime(1980, 1, 1, 0, 0, 0);
#endif
  return DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec);
}

ZipWriter::ZipWriter(std::iostream& out, uint64_t maxArchiveSize)
    : out_(out), base_(out.tellp()), maxSize_(maxArchiveSize) {}

bool ZipWriter::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  return false;
}

bool ZipWriter::WriteData(const void* data, size_t len) {
  if (position_ + len > maxSize_)
    return Fail("the content does not fit: the archive would be larger than " +
                std::to_string(maxSize_) + " bytes (the footer's 32-bit length)");
  out_.write(static_cast<const char*>(data), std::streamsize(len));
  if (!out_) return Fail("cannot write the output");
  position_ += len;
  return true;
}

bool ZipWriter::BeginEntry(const std::string& name, Entry& entry) {
  if (!error_.empty()) return false;
  if (name.empty() || name.size() > 0xFFFF) return Fail("bad entry name '" + name + "'");
  if (entries_.size() >= 0xFFFF)
    return Fail("too many files: an archive holds at most 65535 entries");
  entry.name = name;
  entry.offset = position_;
  entry.crc = 0;
  entry.size = entry.compressedSize = 0;
  std::string header(kLocalHeaderSize, '\0');  // patched once the data is written
  return WriteData(header.data(), header.size()) && WriteData(name.data(), name.size());
}

bool ZipWriter::PatchLocalHeader(const Entry& entry) {
  if (entry.size > 0xFFFFFFFF || entry.compressedSize > 0xFFFFFFFF)
    return Fail("'" + entry.name + "' is 4 GiB or larger");
  std::string h;
  Put32(h, 0x04034B50);
  Put16(h, VersionNeeded(entry.method));
  Put16(h, kUtf8Flag);
  Put16(h, uint16_t(entry.method));
  Put32(h, entry.dosTime);  // time in the low half, date in the high half
  Put32(h, entry.crc);
  Put32(h, uint32_t(entry.compressedSize));
  Put32(h, uint32_t(entry.size));
  Put16(h, uint16_t(entry.name.size()));
  Put16(h, 0);
  out_.seekp(base_ + std::streamoff(entry.offset));
  out_.write(h.data(), std::streamsize(h.size()));
  out_.seekp(base_ + std::streamoff(position_));
  if (!out_) return Fail("cannot write the output");
  return true;
}

bool ZipWriter::CopyStored(Entry& entry, const ReadFn& read, const ProgressFn& progress) {
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (;;) {
    int64_t n = read(buffer.get(), kBlock);
    if (n < 0) return Fail("cannot read '" + entry.name + "'");
    if (n == 0) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.get()), uInt(n));
    if (!WriteData(buffer.get(), size_t(n))) return false;
    entry.size += uint64_t(n);
    if (progress) progress(uint64_t(n));
  }
  entry.crc = uint32_t(crc);
  entry.compressedSize = entry.size;
  return true;
}

bool ZipWriter::CopyDeflated(Entry& entry, const ReadFn& read, const ProgressFn& progress) {
  z_stream z{};
  // Raw deflate (negative window bits): ZIP carries no zlib header or trailer.
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return Fail("zlib: cannot start deflate");
  std::unique_ptr<char[]> in(new char[kBlock]), out(new char[kBlock]);
  uLong crc = crc32(0L, Z_NULL, 0);
  bool ok = true;
  for (int flush = Z_NO_FLUSH; ok && flush != Z_FINISH;) {
    int64_t n = read(in.get(), kBlock);
    if (n < 0) {
      ok = Fail("cannot read '" + entry.name + "'");
      break;
    }
    if (n == 0) flush = Z_FINISH;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(in.get()), uInt(n));
    entry.size += uint64_t(n);
    z.next_in = reinterpret_cast<Bytef*>(in.get());
    z.avail_in = uInt(n);
    do {
      z.next_out = reinterpret_cast<Bytef*>(out.get());
      z.avail_out = uInt(kBlock);
      int rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) {
        ok = Fail("zlib: deflate failed");
        break;
      }
      size_t produced = kBlock - z.avail_out;
      ok = WriteData(out.get(), produced);
      entry.compressedSize += produced;
    } while (ok && z.avail_out == 0);
    if (ok && progress && n > 0) progress(uint64_t(n));
  }
  deflateEnd(&z);
  entry.crc = uint32_t(crc);
  return ok;
}

bool ZipWriter::Add(const std::string& name, Method method, uint32_t dosTime,
                    const std::function<ReadFn()>& open, const ProgressFn& progress) {
  Entry entry;
  entry.method = method;
  entry.dosTime = dosTime;
  if (!BeginEntry(name, entry)) return false;
  uint64_t dataStart = position_;
  if (method == Method::Deflated) {
    if (!CopyDeflated(entry, open(), progress)) return false;
    if (entry.compressedSize >= entry.size) {
      // Deflate did not help (tiny or already-compressed data): store it instead. The
      // longer deflated bytes past the new end are overwritten or cut by the caller.
      out_.seekp(base_ + std::streamoff(dataStart));
      position_ = dataStart;
      entry.method = Method::Stored;
      entry.size = 0;
      if (!CopyStored(entry, open(), nullptr)) return false;
    }
  } else if (!CopyStored(entry, open(), progress)) {
    return false;
  }
  if (!PatchLocalHeader(entry)) return false;
  entries_.push_back(std::move(entry));
  return true;
}

bool ZipWriter::AddBytes(const std::string& name, Method method, uint32_t dosTime,
                         const std::string& data) {
  return Add(name, method, dosTime, [&data]() -> ReadFn {
    auto at = std::make_shared<size_t>(0);
    return [&data, at](void* buffer, size_t len) -> int64_t {
      size_t n = std::min(len, data.size() - *at);
      std::copy_n(data.data() + *at, n, static_cast<char*>(buffer));
      *at += n;
      return int64_t(n);
    };
  });
}

bool ZipWriter::AddRaw(const std::string& name, Method method, uint32_t dosTime, uint32_t crc,
                       uint64_t compressedSize, uint64_t size, const ReadFn& compressed) {
  Entry entry;
  entry.method = method;
  entry.dosTime = dosTime;
  if (!BeginEntry(name, entry)) return false;
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  for (uint64_t left = compressedSize; left > 0;) {
    int64_t n = compressed(buffer.get(), size_t(std::min<uint64_t>(left, kBlock)));
    if (n <= 0) return Fail("cannot read the data of '" + name + "'");
    if (!WriteData(buffer.get(), size_t(n))) return false;
    left -= uint64_t(n);
  }
  entry.crc = crc;
  entry.compressedSize = compressedSize;
  entry.size = size;
  if (!PatchLocalHeader(entry)) return false;
  entries_.push_back(std::move(entry));
  return true;
}

bool ZipWriter::Finish() {
  if (!error_.empty()) return false;
  uint64_t centralStart = position_;
  for (const Entry& e : entries_) {
    std::string h;
    Put32(h, 0x02014B50);
    Put16(h, kVersionMadeBy);
    Put16(h, VersionNeeded(e.method));
    Put16(h, kUtf8Flag);
    Put16(h, uint16_t(e.method));
    Put32(h, e.dosTime);
    Put32(h, e.crc);
    Put32(h, uint32_t(e.compressedSize));
    Put32(h, uint32_t(e.size));
    Put16(h, uint16_t(e.name.size()));
    Put16(h, 0);  // extra
    Put16(h, 0);  // comment
    Put16(h, 0);  // disk
    Put16(h, 0);  // internal attributes
    Put32(h, kExternalAttributes);
    Put32(h, uint32_t(e.offset));
    h += e.name;
    if (!WriteData(h.data(), h.size())) return false;
  }
  uint64_t centralSize = position_ - centralStart;
  std::string end;
  Put32(end, 0x06054B50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, uint16_t(entries_.size()));
  Put16(end, uint16_t(entries_.size()));
  Put32(end, uint32_t(centralSize));
  Put32(end, uint32_t(centralStart));
  Put16(end, 0);
  if (!WriteData(end.data(), end.size())) return false;
  out_.flush();
  return out_ ? true : Fail("cannot write the output");
}

}  // namespace pack
