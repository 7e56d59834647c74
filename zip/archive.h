// amzip::Archive: random access to the entries of one ZIP archive held in a file, in
// memory (the archive appended to the program file, or a resource) or in a set of split
// files (name.z01, name.z02, ... beside name.zip).
//
// The directory is read once into a list of entries and an ordered index from
// normalised keys (see entry_key.h) to entries. Entries are extracted whole, stored or
// deflated, into a sink made by an amzip::WriterCreatorI. Nothing is thrown: every
// operation records code, system error and file name in the last error (error.h).
//
// Threads: the object has no lock. One thread at a time may use it (start-up on the main
// thread, then requests on the network thread).
//
// Hardening: no offset, size or count read from an archive makes the reader touch memory
// outside its buffers or the archive's bytes, and a corrupt archive ends in an error code.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "utils/read_stream.h"
#include "utils/shared_ptr.h"
#include "zip/error.h"
#include "zip/sink.h"
#include "zip/source.h"

namespace amzip {

struct Volume {
  uint32_t number = 0;
  std::u16string name;
  uint64_t size = ~0ull;  // all bits set: not yet known
};

// One directory record, from a central header or (no end record) a local header.
struct Entry {
  uint32_t ordinal = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;  // 0x0008: data descriptor; 0x0800: UTF-8 name
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint16_t modDate = 0;
  uint16_t internalAttributes = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;  // 0x10: directory
  uint32_t diskStart = 0;
  uint64_t localHeaderOffset = 0;
  uint16_t nameLength = 0;
  uint16_t commentLength = 0;
  std::string rawName;
  std::string rawComment;
  std::u16string name;  // decoded, "/" replaced by "\"
  uint16_t extraLength = 0;
  bool fromLocalHeader = false;  // found by scanning local headers (no end record)
};

class Archive {
 public:
  static constexpr uint32_t kOutBufferSize = 65536;
  static constexpr uint32_t kInBufferSize = 32768;
  static constexpr size_t kMaxKeyLength = 2048;

  Archive();
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // The process-wide archive object, created closed on first use (thread-safe).
  static utils::SharedPtr<Archive> GetInstance();

  // Closes the object and opens path (a split archive's first part finds its .zip).
  // Returns the last error's code.
  int32_t OpenFile(const std::u16string& path);
  // Reads the size bytes at data, which must outlive the open archive and every entry
  // stream made from it. Null data or size 0 opens nothing and returns 0. Expects a
  // closed object. Returns the last error's code.
  int32_t OpenMemory(const void* data, uint64_t size, const std::u16string& name);
  // The resource (type, identifier) of the program's own module (Windows); POSIX has
  // no resources and answers 0 with the archive closed.
  int32_t OpenResource(const std::u16string& type, uint32_t identifier);
  void Close();
  bool IsOpen() const;

  // Extracts the entry named name into creator under sinkName; the outcome is in the
  // last error (code 0 on success).
  void Extract(WriterCreatorI& creator, const std::u16string& name, const std::u16string& sinkName);
  // size: low 32 bits of the uncompressed size; time (optional): the entry's time in
  // UTC, left untouched when the entry has none. False for an unknown name.
  bool GetEntryInfo(const std::u16string& name, uint32_t& size, FileTime* time) const;
  // CRC-32 of every byte the source delivers from position 0; cached.
  uint32_t GetChecksum();
  void LoadDirectory();

  // A stream over one entry of an archive opened with OpenMemory: stored entries read
  // straight from the archive's bytes, deflated ones inflate as they are read. Empty
  // when the name is unknown, the archive is not in memory or the entry is unusable.
  utils::SharedPtr<utils::ReadStreamI> OpenEntryStream(const std::u16string& name);
  // The same for one of Entries(): names that share a key stay reachable one by one.
  utils::SharedPtr<utils::ReadStreamI> OpenEntryStream(const Entry& entry);

  // The entry's compressed bytes (compressedSize of them, method as recorded) inside an
  // archive opened with OpenMemory, found through its local header; null when the
  // archive is not in memory, the entry lies on another part, or the local header or
  // the data would reach outside the archive's bytes. Lets a writer copy entries
  // without inflating and deflating them again.
  const uint8_t* EntryData(const Entry& entry) const;

  // The entry whose key equals NormalizeEntryKey(name), or null. Loads nothing.
  const Entry* FindEntry(const std::u16string& name) const;

  const AZError& LastError() const { return lastError_; }
  const std::u16string& Name() const { return name_; }
  const std::vector<std::unique_ptr<Entry>>& Entries() const { return entries_; }
  const std::string& Comment() const { return comment_; }  // raw bytes
  uint16_t TotalEntries() const { return totalEntries_; }
  bool DirectoryLoaded() const { return directoryLoaded_; }
  bool NotZip() const { return notZip_; }
  const std::vector<Volume>& Volumes() const { return volumes_; }

 private:
  friend class DirectoryReader;

  void SetError(int32_t code, const std::u16string& file);
  void SetError(int32_t code, uint32_t systemError, const std::u16string& file);
  const std::u16string& CurrentVolumeName() const;
  bool OpenFileReader(const std::u16string& path);
  bool SelectVolume(uint32_t number, uint64_t offset);
  bool RebuildVolumes(uint32_t number);
  bool SeekTo(uint64_t offset);
  // Reads exactly size bytes of the current volume (code 6 otherwise).
  bool ReadExact(void* buffer, uint32_t size);
  // Reads up to size bytes, continuing on the next volume when the current one ends.
  bool ReadSpanning(void* buffer, uint32_t size, uint32_t& got);
  void ExtractEntry(WriterCreatorI& creator, const Entry& entry, const std::u16string& sinkName);
  bool CopyStored(WriteI& writer, uint64_t size, const std::u16string& sinkName);
  bool CopyDeflated(WriteI& writer, uint64_t size, const std::u16string& sinkName);
  // Data start of entry within the current volume after reading its local header.
  bool LocateData(const Entry& entry, uint64_t& dataOffset);

  std::u16string name_;
  uint32_t cdStartDisk_ = 0;
  uint64_t cdOffset_ = 0;
  uint64_t cdSize_ = 0;
  std::string comment_;
  uint16_t commentLength_ = 0;
  std::vector<Volume> volumes_;
  int currentVolume_ = -1;  // position in volumes_, -1: none
  std::vector<std::unique_ptr<Entry>> entries_;
  uint16_t totalEntries_ = 0;
  std::unique_ptr<ReadI> reader_;
  const uint8_t* memData_ = nullptr;  // set while a memory archive is open
  uint64_t memSize_ = 0;
  int64_t offsetBias_ = 0;  // added to local header offsets of a shifted archive
  bool directoryLoaded_ = false;
  uint32_t checksum_ = 0;
  std::unique_ptr<uint8_t[]> outBuffer_;
  std::unique_ptr<uint8_t[]> inBuffer_;
  AZError lastError_;
  std::map<std::u16string, size_t> index_;
  std::unique_ptr<uint8_t[]> extraBuffer_;
  uint16_t extraCapacity_ = 0;
  bool notZip_ = false;
};

}  // namespace amzip
