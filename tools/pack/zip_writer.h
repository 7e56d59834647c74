// pack::ZipWriter: writes a ZIP archive into a seekable output stream, at the stream's
// current position, with every offset counted from the archive's first byte (so the
// archive stays valid when it is appended to a program image).
//
// Entries carry UTF-8 names (general-purpose flag bit 11), "/" separators, DOS times, no
// extra fields and fixed attributes, so the same input gives the same bytes. An entry is
// stored or deflated (zlib raw deflate); a deflated entry that does not shrink is
// rewritten stored. Local headers are patched after the data, so no data descriptors are
// needed and memory stays bounded whatever the file size.
//
// Failures are reported by result with a message in Error(); after a failure the output
// is to be discarded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace pack {

enum class Method : uint16_t { Stored = 0, Deflated = 8 };

// MS-DOS date (high 16 bits) and time (low 16 bits) of a local calendar time; clamped to
// 1980-01-01 00:00:00 .. 2107-12-31 23:59:58.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
// The same for a point in time, in the machine's local time zone.
uint32_t DosDateTimeOf(std::filesystem::file_time_type time);

// Reads up to len bytes into buffer; returns the count (0 at the end), or -1 on error.
using ReadFn = std::function<int64_t(void* buffer, size_t len)>;
// Told how many input bytes went into the archive.
using ProgressFn = std::function<void(uint64_t bytes)>;

class ZipWriter {
 public:
  // out must be open for reading and writing (binary) and positioned where the archive
  // begins. maxArchiveSize bounds the whole archive (the footer's 32-bit length).
  explicit ZipWriter(std::iostream& out, uint64_t maxArchiveSize = 0xFFFFFFFFull);

  // An entry read through open(): open() gives a fresh reader of the whole input each
  // time it is called (a deflated entry that does not shrink is read a second time).
  bool Add(const std::string& name, Method method, uint32_t dosTime,
           const std::function<ReadFn()>& open, const ProgressFn& progress = nullptr);
  bool AddBytes(const std::string& name, Method method, uint32_t dosTime, const std::string& data);
  // An entry whose compressed bytes are copied as they are (from another archive).
  bool AddRaw(const std::string& name, Method method, uint32_t dosTime, uint32_t crc,
              uint64_t compressedSize, uint64_t size, const ReadFn& compressed);

  // Writes the central directory and the end record. Returns false on failure.
  bool Finish();
  // Archive length so far (after Finish: the whole archive).
  uint64_t GetSize() const { return position_; }
  size_t GetEntryCount() const { return entries_.size(); }
  // How the last entry was written (a deflated one that did not shrink is stored) and
  // its compressed size. Only after an entry was added.
  Method LastMethod() const { return entries_.back().method; }
  uint64_t LastCompressedSize() const { return entries_.back().compressedSize; }
  const std::string& Error() const { return error_; }

 private:
  struct Entry {
    std::string name;
    Method method;
    uint32_t dosTime, crc;
    uint64_t compressedSize, size, offset;
  };

  bool BeginEntry(const std::string& name, Entry& entry);
  bool WriteData(const void* data, size_t len);
  bool PatchLocalHeader(const Entry& entry);
  bool CopyStored(Entry& entry, const ReadFn& read, const ProgressFn& progress);
  bool CopyDeflated(Entry& entry, const ReadFn& read, const ProgressFn& progress);
  bool Fail(std::string message);

  std::iostream& out_;
  std::streamoff base_;
  uint64_t maxSize_;
  uint64_t position_ = 0;
  std::vector<Entry> entries_;
  std::string error_;
};

}  // namespace pack
