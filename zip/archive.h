// amzip::Archive: random access to the entries of one ZIP archive held in a file, in
// memory (the archive appended to the program file, or a resource) or in a set of split
// files (name.z01, name.z02, ... beside name.zip).
//
// The directory is read once into a list of entries and an ordered index from
// normalised keys (see entry_key.h) to entries. An entry's bytes come from one place,
// OpenEntryStream, which checks the local header before handing out a stream; Extract
// drains such a stream into a sink made by an amzip::WriterCreatorI. Nothing is thrown:
// every operation records code, system error and file name in the last error (error.h).
//
// Every source is read the same way (source.h): a file named by path is mapped when the
// address space allows and read in place otherwise, exactly like the appended archive,
// so no entry is ever copied whole into memory to be served.
//
// Threads: the object has no lock. One thread at a time may use it (start-up on the main
// thread, then requests on the network thread). The one other thread is its restart
// indexer (StartIndexing), which never touches the object; Close and the destructor
// stop and join it.
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
#include "zip/entry_stream.h"
#include "zip/error.h"
#include "zip/restart_indexer.h"
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
  // Reads the archive from source, one part holding the whole archive (a region of the
  // program file, say). Expects a closed object. Returns the last error's code.
  int32_t OpenSource(SourcePtr source, const std::u16string& name);
  // Reads the size bytes at data, which must outlive the open archive and every entry
  // stream made from it. Null data or size 0 opens nothing and returns 0. Expects a
  // closed object. Returns the last error's code.
  int32_t OpenMemory(const void* data, uint64_t size, const std::u16string& name);
  // The resource (type, identifier) of the program's own module (Windows); POSIX has
  // no resources and answers 0 with the archive closed.
  int32_t OpenResource(const std::u16string& type, uint32_t identifier);
  void Close();
  bool IsOpen() const;

  // Extracts the entry named name into creator under sinkName by draining its entry
  // stream; the outcome is in the last error (code 0 on success).
  void Extract(WriterCreatorI& creator, const std::u16string& name, const std::u16string& sinkName);
  // size: low 32 bits of the uncompressed size; time (optional): the entry's time in
  // UTC, left untouched when the entry has none. False for an unknown name.
  bool GetEntryInfo(const std::u16string& name, uint32_t& size, FileTime* time) const;
  // CRC-32 of every byte the source delivers from position 0; cached.
  uint32_t GetChecksum();
  void LoadDirectory();

  // Opens the data of the entry named name as an EntryStream (entry_stream.h), whatever
  // the source. Before any byte is served it reads and checks the local header and
  // refuses, with an empty stream and the reason in the last error:
  //   AZERROR_NOT_FOUND        unknown name
  //   AZERROR_ENCRYPTED        flag bit 0 (central or local) or method 99
  //   FDIERROR_BAD_COMPR_TYPE  a method other than stored (0) or deflated (8)
  //   AZERROR_ZIP64_NEEDED     a size or offset still marked 0xFFFFFFFF
  //   AZERROR_BAD_SIGNATURE    no local header where the directory says
  //   AZERROR_HEADER_MISMATCH  local and central headers disagree on the method, the
  //                            name, or (where the local header records them) the
  //                            sizes and CRC-32
  //   ERROR_READ_FILE          the header or the data reaches outside the archive
  //   AZERROR_CRC              an empty entry with a CRC-32 other than 0
  //   AZERROR_CHANGED          the archive's file was written or cut since it was
  //                            opened, and the entry's local header no longer records
  //                            the directory's sizes and CRC-32 or its data is cut
  // The stream itself fails with AZERROR_CHANGED once the file changes while it reads.
  // A directory entry opens as an empty stream of size 0 when its sizes are 0.
  utils::SharedPtr<utils::ReadStreamI> OpenEntryStream(const std::u16string& name);
  // The same for one of Entries(): names that share a key stay reachable one by one.
  utils::SharedPtr<utils::ReadStreamI> OpenEntryStream(const Entry& entry);

  // Checks entry's local header as OpenEntryStream does and fills where its compressed
  // data lies (the source, the offset in it, and the source's stamp at the check); false
  // with the last error set. Lets the raw data be served or copied without inflating it.
  bool LocateEntry(const Entry& entry, EntryLocation& where);

  // The entry's compressed bytes (compressedSize of them, method as recorded) when the
  // archive's bytes are in memory, after the checks of OpenEntryStream; else null. Lets
  // a writer copy entries without inflating and deflating them again.
  const uint8_t* EntryData(const Entry& entry);

  // Deflated entries of at least this many bytes get their restart points ahead of need.
  static constexpr uint64_t kIndexAhead = 2ull << 20;
  // Starts the background thread that builds the restart points of the deflated entries
  // of at least kIndexAhead bytes that open (see OpenEntryStream), largest first, into
  // the indexes their entry streams share, within the archive's restart budget (see
  // restart_indexer.h and entry_stream.h). For an archive about to be served; once per
  // opened archive (later calls do nothing). The last error is left as it was.
  void StartIndexing();
  // False while the indexer started by StartIndexing is still at work.
  bool IndexingFinished() const { return !indexer_ || indexer_->Finished(); }

  // The entry whose key equals NormalizeEntryKey(name), or null. Loads nothing.
  const Entry* FindEntry(const std::u16string& name) const;

  const AZError& LastError() const { return lastError_; }
  const std::u16string& Name() const { return name_; }
  const std::vector<std::unique_ptr<Entry>>& Entries() const { return entries_; }
  // Changes whenever the entries are replaced (Close, LoadDirectory): an Entry pointer
  // taken under one generation may be gone under the next.
  uint64_t Generation() const { return generation_; }
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
  // The source of a volume, opened on first use (null with the error recorded).
  SourcePtr VolumeSource(uint32_t number);
  bool SelectVolume(uint32_t number, uint64_t offset);
  bool RebuildVolumes(uint32_t number);
  bool SeekTo(uint64_t offset);
  // Reads up to size bytes of the current volume at the position, and moves past them.
  bool ReadSome(void* buffer, uint32_t size, uint32_t& got);
  // Reads exactly size bytes of the current volume (code 6 otherwise).
  bool ReadExact(void* buffer, uint32_t size);
  void ExtractEntry(WriterCreatorI& creator, const Entry& entry, const std::u16string& sinkName);
  // The restart index the streams of entry share (made on first use), or empty when a
  // seek in it could not skip an interval.
  utils::SharedPtr<RestartIndex> RestartIndexOf(const Entry& entry);

  std::u16string name_;
  uint32_t cdStartDisk_ = 0;
  uint64_t cdOffset_ = 0;
  uint64_t cdSize_ = 0;
  std::string comment_;
  uint16_t commentLength_ = 0;
  std::vector<Volume> volumes_;
  int currentVolume_ = -1;  // position in volumes_, -1: none
  std::vector<std::unique_ptr<Entry>> entries_;
  uint64_t generation_ = 0;
  uint16_t totalEntries_ = 0;
  SourcePtr reader_;                // the current volume's source
  uint64_t position_ = 0;           // where the directory reader reads in it
  std::vector<SourcePtr> sources_;  // by volume number, opened on first use
  bool onePart_ = false;            // opened over memory or one source: no parts beside it
  int64_t offsetBias_ = 0;  // added to local header offsets of a shifted archive
  bool directoryLoaded_ = false;
  uint32_t checksum_ = 0;
  std::unique_ptr<uint8_t[]> outBuffer_;
  std::unique_ptr<uint8_t[]> inBuffer_;
  AZError lastError_;
  std::map<std::u16string, size_t> index_;
  utils::SharedPtr<RestartBudget> restartBudget_;
  std::map<uint32_t, utils::SharedPtr<RestartIndex>> restartIndexes_;  // by ordinal
  std::unique_ptr<RestartIndexer> indexer_;
  std::unique_ptr<uint8_t[]> extraBuffer_;
  uint16_t extraCapacity_ = 0;
  bool notZip_ = false;
};

}  // namespace amzip
