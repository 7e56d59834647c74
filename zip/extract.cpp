// Extraction of one entry: locating its data through the local header and copying it,
// stored or inflated, into a sink.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "zip/archive.h"
#include "zip/platform.h"

namespace amzip {

namespace {

constexpr uint32_t kMarker32 = 0xFFFFFFFFu;
constexpr uint32_t kMarker16 = 0xFFFFu;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Owns a sink until the end of the extraction, on every path.
struct WriterHolder {
  WriteI* writer = nullptr;
  ~WriterHolder() { delete writer; }
};

struct InflateStream {
  z_stream stream = {};
  bool ready = false;
  ~InflateStream() {
    if (ready) inflateEnd(&stream);
  }
};

}  // namespace

bool Archive::LocateData(const Entry& entry, uint64_t& dataOffset) {
  uint64_t headerOffset = entry.localHeaderOffset;
  // Offsets of an archive that was moved within a larger file (see the directory reader).
  if (entry.diskStart == volumes_[currentVolume_].number || volumes_.size() == 1) {
    headerOffset += static_cast<uint64_t>(offsetBias_);
  }
  if (!SelectVolume(entry.diskStart, headerOffset + 4)) return false;
  // The local header is trusted only for the lengths of its name and extra field.
  uint8_t fixed[26];
  if (!ReadExact(fixed, sizeof(fixed))) return false;
  dataOffset = headerOffset + 30 + Le16(fixed + 22) + Le16(fixed + 24);
  return SeekTo(dataOffset);
}

void Archive::ExtractEntry(WriterCreatorI& creator, const Entry& entry,
                           const std::u16string& sinkName) {
  SetError(0, entry.name);
  if (entry.method != 0 && entry.method != 8) {
    SetError(FDIERROR_BAD_COMPR_TYPE, entry.name);
    return;
  }
  if (entry.localHeaderOffset == kMarker32 || entry.uncompressedSize == kMarker32 ||
      entry.compressedSize == kMarker32 || entry.diskStart == kMarker16) {
    SetError(AZERROR_ZIP64_NEEDED, entry.name);
    return;
  }
  uint64_t dataOffset = 0;
  if (!LocateData(entry, dataOffset)) return;
  FileTime time;
  bool hasTime = (entry.modDate != 0 || entry.modTime != 0) &&
                 DosDateTimeToUtc(entry.modDate, entry.modTime, time);
  if (int32_t code = creator.CheckTarget(sinkName)) {
    SetError(code, sinkName);
    return;
  }
  if (entry.externalAttributes & 0x10) {
    if (int32_t code = creator.MakeDirectory(sinkName, hasTime ? &time : nullptr)) {
      SetError(code, sinkName);
      return;
    }
  } else {
    WriterHolder holder;
    holder.writer = creator.CreateWriter(sinkName, entry.uncompressedSize);
    if (!holder.writer || !holder.writer->IsOpen()) {
      SetError(ERROR_CREATE_FILE, sinkName);
      return;
    }
    bool copied = entry.method == 0 ? CopyStored(*holder.writer, entry.compressedSize, sinkName)
                                    : CopyDeflated(*holder.writer, entry.compressedSize, sinkName);
    if (!copied) return;
    if (hasTime) holder.writer->SetTime(time);
  }
  creator.Finish(sinkName, entry.externalAttributes);
}

bool Archive::CopyStored(WriteI& writer, uint64_t size, const std::u16string& sinkName) {
  uint64_t remaining = size;
  while (remaining > 0) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(remaining, kOutBufferSize));
    uint32_t got = 0;
    if (!ReadSpanning(outBuffer_.get(), want, got)) return false;
    if (!writer.Write(outBuffer_.get(), got)) {
      SetError(ERROR_WRITE_FILE, sinkName);
      return false;
    }
    remaining -= got;
  }
  return true;
}

bool Archive::CopyDeflated(WriteI& writer, uint64_t size, const std::u16string& sinkName) {
  InflateStream z;
  if (inflateInit2(&z.stream, -MAX_WBITS) != Z_OK) {
    SetError(ERROR_FLATE, static_cast<uint32_t>(Z_MEM_ERROR), CurrentVolumeName());
    return false;
  }
  z.ready = true;
  z_stream& s = z.stream;
  s.next_out = outBuffer_.get();
  s.avail_out = kOutBufferSize;
  auto flush = [&]() {
    uint32_t produced = kOutBufferSize - s.avail_out;
    s.next_out = outBuffer_.get();
    s.avail_out = kOutBufferSize;
    if (produced > 0 && !writer.Write(outBuffer_.get(), produced)) {
      SetError(ERROR_WRITE_FILE, sinkName);
      return false;
    }
    return true;
  };
  int result = Z_OK;
  uint64_t remaining = size;
  while (remaining > 0 && result != Z_STREAM_END) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(remaining, kInBufferSize));
    uint32_t got = 0;
    if (!ReadSpanning(inBuffer_.get(), want, got)) return false;
    remaining -= got;
    s.next_in = inBuffer_.get();
    s.avail_in = got;
    while (s.avail_in > 0) {
      result = inflate(&s, Z_SYNC_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) {
        SetError(ERROR_FLATE, static_cast<uint32_t>(result), CurrentVolumeName());
        return false;
      }
      if (s.avail_out == 0 && !flush()) return false;
      // Bytes after the end of the deflate stream belong to no output: the copy ends.
      if (result == Z_STREAM_END) break;
    }
  }
  // Output zlib still holds once the input is used up, then the end of the stream.
  while (result == Z_OK) {
    result = inflate(&s, Z_SYNC_FLUSH);
    if (result == Z_OK && s.avail_out != 0) result = Z_BUF_ERROR;  // needs input it lacks
    if (result != Z_OK && result != Z_STREAM_END) {
      SetError(ERROR_FLATE, static_cast<uint32_t>(result), CurrentVolumeName());
      return false;
    }
    if (s.avail_out == 0 && !flush()) return false;
  }
  return flush();
}

}  // namespace amzip
