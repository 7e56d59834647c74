// An entry's data: its local header checked against the directory (the one parser of
// local headers), the entry stream over the data, and extraction by draining that stream
// into a sink.
#include <algorithm>
#include <cstring>

#include "zip/archive.h"
#include "zip/format.h"
#include "zip/platform.h"

namespace amzip {

namespace {

// Owns a sink until the end of the extraction, on every path.
struct WriterHolder {
  WriteI* writer = nullptr;
  ~WriterHolder() { delete writer; }
};

// The sizes of a local ZIP64 block (uncompressed, then compressed), when the header
// marks them; false when a marked size has no value.
bool LocalZip64Sizes(const uint8_t* extra, size_t length, uint64_t& size, uint64_t& compressed) {
  for (size_t pos = 0; pos + 4 <= length;) {
    uint16_t id = Le16(extra + pos);
    size_t blockSize = Le16(extra + pos + 2);
    if (pos + 4 + blockSize > length) break;  // a damaged block ends the search
    if (id == kExtraZip64) {
      const uint8_t* d = extra + pos + 4;
      size_t left = blockSize;
      if (size == kMarker32) {
        if (left < 8) return false;
        size = Le64(d);
        d += 8;
        left -= 8;
      }
      if (compressed == kMarker32) {
        if (left < 8) return false;
        compressed = Le64(d);
      }
      return true;
    }
    pos += 4 + blockSize;
  }
  return size != kMarker32 && compressed != kMarker32;
}

}  // namespace

bool Archive::LocateEntry(const Entry& entry, EntryLocation& where) {
  auto refuse = [&](int32_t code) {
    SetError(code, 0, entry.name);
    return false;
  };
  if ((entry.flags & kFlagEncrypted) || entry.method == kMethodAes)
    return refuse(AZERROR_ENCRYPTED);
  if (entry.method != kMethodStored && entry.method != kMethodDeflated)
    return refuse(FDIERROR_BAD_COMPR_TYPE);
  if (entry.localHeaderOffset == kMarker32 || entry.uncompressedSize == kMarker32 ||
      entry.compressedSize == kMarker32 || entry.diskStart == kMarker16) {
    return refuse(AZERROR_ZIP64_NEEDED);
  }
  if (!IsOpen() || currentVolume_ < 0) return refuse(AZERR_INVALIDSTATE);
  // The data of a split archive may run on into the following parts.
  SourcePtr source;
  uint64_t header = entry.localHeaderOffset;
  if (onePart_ || (volumes_.size() == 1 && entry.diskStart == volumes_[0].number)) {
    if (entry.diskStart != volumes_[currentVolume_].number) return refuse(AZERROR_MISSING_PART);
    source = reader_;
    // Offsets of an archive that was moved within a larger file (see the directory
    // reader); a negative bias wraps to a huge offset, which the bounds below refuse.
    header += static_cast<uint64_t>(offsetBias_);
  } else {
    // Finds the parts beside the one opened when they are not listed yet.
    if (!SelectVolume(entry.diskStart, 0)) return false;
    std::vector<SourcePtr> parts;
    for (uint32_t k = entry.diskStart; k < volumes_.size(); ++k) {
      SourcePtr part = VolumeSource(k);
      if (!part) return false;
      parts.push_back(part);
    }
    if (parts.empty()) return refuse(AZERROR_MISSING_PART);
    source = SourcePtr(new ChainReader(std::move(parts)));
  }
  // The file's stamp now goes with the stream, which fails once the file changes again.
  // A file that changed since the archive was opened (an author rebuilding the archive
  // being served) is not trusted: its entry is served only while its local header still
  // records the directory's sizes and CRC-32 and its data still lies within the file.
  const utils::FileStamp stamp = source->Stamp();
  const bool changed = source->Changed();
  auto refuseData = [&](int32_t code) { return refuse(changed ? AZERROR_CHANGED : code); };
  const uint64_t total = source->Size();
  uint8_t fixed[kLocalHeaderSize];
  uint32_t got = 0;
  if (header >= total || total - header < sizeof(fixed)) return refuseData(ERROR_READ_FILE);
  if (!source->ReadAt(header, fixed, sizeof(fixed), got) || got != sizeof(fixed)) {
    return refuseData(ERROR_READ_FILE);
  }
  if (Le32(fixed) != kSigLocalHeader) return refuseData(AZERROR_BAD_SIGNATURE);
  const uint16_t flags = Le16(fixed + 6);
  const uint16_t nameLength = Le16(fixed + 26), extraLength = Le16(fixed + 28);
  if (flags & kFlagEncrypted) return refuse(AZERROR_ENCRYPTED);
  if (Le16(fixed + 8) != entry.method || nameLength != entry.rawName.size()) {
    return refuseData(AZERROR_HEADER_MISMATCH);
  }
  std::string variable(nameLength + extraLength, '\0');
  if (!variable.empty() && (!source->ReadAt(header + kLocalHeaderSize, variable.data(),
                                            static_cast<uint32_t>(variable.size()), got) ||
                            got != variable.size())) {
    return refuseData(ERROR_READ_FILE);
  }
  if (variable.compare(0, nameLength, entry.rawName) != 0) {
    return refuseData(AZERROR_HEADER_MISMATCH);
  }
  // Writers that stream set the descriptor flag and leave the header's fields at 0 (or
  // some of them: bsdtar records the uncompressed size); what is recorded must agree.
  const bool descriptor = (flags & kFlagDescriptor) != 0 && !changed;
  const uint32_t crc = Le32(fixed + 14);
  uint64_t compressed = Le32(fixed + 18), size = Le32(fixed + 22);
  const auto* extra = reinterpret_cast<const uint8_t*>(variable.data()) + nameLength;
  auto differs = [descriptor](uint64_t local, uint64_t central) {
    return local != central && !(descriptor && local == 0);
  };
  if (!LocalZip64Sizes(extra, extraLength, size, compressed) || differs(crc, entry.crc32) ||
      differs(compressed, entry.compressedSize) || differs(size, entry.uncompressedSize)) {
    return refuseData(AZERROR_HEADER_MISMATCH);
  }
  const uint64_t dataStart = header + kLocalHeaderSize + nameLength + extraLength;
  if (dataStart > total || total - dataStart < entry.compressedSize) {
    return refuseData(ERROR_READ_FILE);
  }
  uint8_t last = 0;
  if (changed && entry.compressedSize > 0 &&
      (!source->ReadAt(dataStart + entry.compressedSize - 1, &last, 1, got) || got != 1)) {
    return refuse(AZERROR_CHANGED);  // cut before the end of the data
  }
  if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize) {
    return refuse(AZERROR_HEADER_MISMATCH);
  }
  if (entry.uncompressedSize == 0 && entry.crc32 != 0) return refuse(AZERROR_CRC);
  where.source = source;
  where.offset = dataStart;
  where.compressedSize = entry.compressedSize;
  where.size = entry.uncompressedSize;
  where.method = entry.method;
  where.crc32 = entry.crc32;
  where.name = entry.name;
  where.stamp = stamp;
  return true;
}

utils::SharedPtr<utils::ReadStreamI> Archive::OpenEntryStream(const std::u16string& name) {
  const Entry* entry = FindEntry(name);
  if (!entry) {
    SetError(AZERROR_NOT_FOUND, 0, name);
    return {};
  }
  return OpenEntryStream(*entry);
}

utils::SharedPtr<utils::ReadStreamI> Archive::OpenEntryStream(const Entry& entry) {
  EntryLocation where;
  if (!LocateEntry(entry, where)) return {};
  SetError(0, 0, entry.name);
  return utils::SharedPtr<utils::ReadStreamI>(
      new EntryStream(std::move(where), RestartIndexOf(entry)));
}

utils::SharedPtr<RestartIndex> Archive::RestartIndexOf(const Entry& entry) {
  // Restart points pay only where a seek could skip at least one interval.
  if (entry.method != kMethodDeflated || entry.uncompressedSize <= RestartIndex::kInterval)
    return {};
  if (!restartBudget_) restartBudget_ = utils::SharedPtr<RestartBudget>(new RestartBudget());
  utils::SharedPtr<RestartIndex>& slot = restartIndexes_[entry.ordinal];
  if (!slot) slot = utils::SharedPtr<RestartIndex>(new RestartIndex(restartBudget_));
  return slot;
}

void Archive::StartIndexing() {
  if (indexer_ || !IsOpen()) return;
  const AZError kept = lastError_;
  std::vector<const Entry*> large;
  for (const auto& entry : entries_) {
    if (entry->method == kMethodDeflated && entry->uncompressedSize >= kIndexAhead)
      large.push_back(entry.get());
  }
  std::stable_sort(large.begin(), large.end(), [](const Entry* a, const Entry* b) {
    return a->uncompressedSize > b->uncompressedSize;
  });
  std::vector<RestartIndexer::Job> jobs;
  for (const Entry* entry : large) {
    RestartIndexer::Job job;
    if (!LocateEntry(*entry, job.where)) continue;  // its requests will be refused anyway
    job.index = RestartIndexOf(*entry);
    jobs.push_back(std::move(job));
  }
  lastError_ = kept;
  indexer_ = std::make_unique<RestartIndexer>(std::move(jobs), restartBudget_);
}

const uint8_t* Archive::EntryData(const Entry& entry) {
  EntryLocation where;
  if (!LocateEntry(entry, where) || !where.source->Data()) return nullptr;
  return where.source->Data() + where.offset;
}

void Archive::ExtractEntry(WriterCreatorI& creator, const Entry& entry,
                           const std::u16string& sinkName) {
  SetError(0, 0, entry.name);
  FileTime time;
  bool hasTime = (entry.modDate != 0 || entry.modTime != 0) &&
                 DosDateTimeToUtc(entry.modDate, entry.modTime, time);
  if (entry.externalAttributes & kAttributeDirectory) {
    if (int32_t code = creator.CheckTarget(sinkName)) {
      SetError(code, sinkName);
      return;
    }
    if (int32_t code = creator.MakeDirectory(sinkName, hasTime ? &time : nullptr)) {
      SetError(code, sinkName);
      return;
    }
    creator.Finish(sinkName, entry.externalAttributes);
    return;
  }
  auto stream = OpenEntryStream(entry);
  if (!stream) return;
  if (int32_t code = creator.CheckTarget(sinkName)) {
    SetError(code, sinkName);
    return;
  }
  WriterHolder holder;
  holder.writer = creator.CreateWriter(sinkName, entry.uncompressedSize);
  if (!holder.writer || !holder.writer->IsOpen()) {
    SetError(ERROR_CREATE_FILE, sinkName);
    return;
  }
  auto& entryStream = static_cast<EntryStream&>(*stream);
  for (;;) {
    uint32_t got = 0;
    if (!entryStream.Read(outBuffer_.get(), kOutBufferSize, got)) {
      SetError(entryStream.FailureCode(), 0, CurrentVolumeName());
      return;
    }
    if (got == 0) break;
    if (!holder.writer->Write(outBuffer_.get(), got)) {
      SetError(ERROR_WRITE_FILE, sinkName);
      return;
    }
  }
  if (hasTime) holder.writer->SetTime(time);
  creator.Finish(sinkName, entry.externalAttributes);
}

}  // namespace amzip
