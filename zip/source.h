// Byte sources the ZIP reader reads archives through: amzip::ReadI, read at any offset,
// with one implementation over memory (MemReader), one over a file or a region of it
// (FileReader, mapped or read in place) and one that joins the parts of a split archive
// (ChainReader).
//
// A file that others may write while it is read (an archive named on the command line)
// is read in place, never mapped: a mapped file cut shorter by someone else turns the
// next touch of a page past its new end into SIGBUS, which kills the process, where a
// read just comes up short. Its Stamp tells readers that it changed since they looked.
//
// Reads name their offset, so a source keeps no position and any number of entry
// streams may share one (through utils::SharedPtr, which keeps it alive as long as the
// last stream). Sources report failure only through their results; the archive object
// turns them into error records. ReadAt keeps no state (positioned reads or copies from
// memory), so several threads may read one source at once (the network thread's
// streams and the restart indexer do).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "utils/file/mapped_file.h"
#include "utils/shared_ptr.h"

namespace amzip {

class ReadI {
 public:
  virtual ~ReadI() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to size bytes at offset; got receives the count, fewer than size only at
  // the end (at or past it: 0 bytes and true). False for an I/O failure.
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) = 0;
  // All Size() bytes when they are in memory (valid as long as the source), else null.
  virtual const uint8_t* Data() const { return nullptr; }
  // When the source is one region of an open file: that file (a descriptor on POSIX, a
  // HANDLE on Windows; open as long as the source) and the file offset of byte 0.
  virtual bool FileAt(uintptr_t& file, uint64_t& start) const { return false; }
  // What the source's file says of itself now (size and modification time); readers
  // compare it with an earlier one to learn that the file was written or cut meanwhile.
  // Sources that cannot change under the reader answer an empty stamp, always.
  virtual utils::FileStamp Stamp() const { return {}; }
  // Whether Stamp() differs from what it was when the source was opened.
  virtual bool Changed() const { return false; }
};

using SourcePtr = utils::SharedPtr<ReadI>;

// A block of memory the reader does not own; it must outlive the reader. When the block
// is a view of an open file (the program's own), file and fileStart say where it lies in
// that file (FileAt); the file must stay open as long as the reader.
class MemReader : public ReadI {
 public:
  MemReader(const void* data, uint64_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
  MemReader(const void* data, uint64_t size, uintptr_t file, uint64_t fileStart)
      : MemReader(data, size) {
    file_ = file;
    fileStart_ = fileStart;
    inFile_ = true;
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override;
  const uint8_t* Data() const override { return data_; }
  bool FileAt(uintptr_t& file, uint64_t& start) const override {
    file = file_;
    start = fileStart_;
    return inFile_;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uintptr_t file_ = 0;
  uint64_t fileStart_ = 0;
  bool inFile_ = false;
};

// length bytes of a file from start on, through a utils::MappedFile it owns (handles
// not inherited by child processes). With map, mapped whole when the process has the
// address space for it (64-bit, or up to kMaxView32 bytes in 32 bits) and the mapping
// works; otherwise read in place, one positioned read per ReadAt.
class FileReader : public ReadI {
 public:
  // Opens path whole; null when it cannot be opened for reading (or is a directory).
  // Map only a file no one can write while it is open (see above).
  static utils::SharedPtr<FileReader> Open(const std::u16string& path, bool map);
  // A region of an open file; null when the region lies outside it.
  static utils::SharedPtr<FileReader> Region(std::unique_ptr<utils::MappedFile> file,
                                             uint64_t start, uint64_t length, bool map);

  uint64_t Size() const override { return length_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override;
  const uint8_t* Data() const override { return data_; }
  bool FileAt(uintptr_t& file, uint64_t& start) const override;
  utils::FileStamp Stamp() const override;
  bool Changed() const override { return Stamp() != opened_; }

  // Where the bytes lie: offset o of this source is offset Start() + o of File(), for
  // sending them from the file without reading them here.
  const utils::MappedFile& File() const { return *file_; }
  uint64_t Start() const { return start_; }

  static constexpr uint64_t kMaxView32 = 1ull << 30;
  // Whether a view of length bytes is worth mapping in this process.
  static bool Mappable(uint64_t length);

 private:
  FileReader(std::unique_ptr<utils::MappedFile> file, uint64_t start, uint64_t length, bool map);

  std::unique_ptr<utils::MappedFile> file_;
  uint64_t start_;
  uint64_t length_;
  const uint8_t* data_ = nullptr;
  utils::FileStamp opened_;
};

// The parts of a split archive, read as one run of bytes from a first part on: offsets
// past the end of one part continue in the next.
class ChainReader : public ReadI {
 public:
  explicit ChainReader(std::vector<SourcePtr> parts);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override;
  // The parts' stamps added up: it changes when any part's does.
  utils::FileStamp Stamp() const override;
  bool Changed() const override;

 private:
  std::vector<SourcePtr> parts_;
  uint64_t size_ = 0;
};

}  // namespace amzip
