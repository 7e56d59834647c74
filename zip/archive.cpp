#include "zip/archive.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <limits>

#include "utils/crc32.h"
#include "zip/entry_key.h"
#include "zip/platform.h"

namespace amzip {

Archive::Archive()
    : outBuffer_(new uint8_t[kOutBufferSize]), inBuffer_(new uint8_t[kInBufferSize]) {}

Archive::~Archive() { Close(); }

utils::SharedPtr<Archive> Archive::GetInstance() {
  // A function-local static: constructed once even when threads race for the first call,
  // destroyed by the exit handlers.
  static utils::SharedPtr<Archive> instance(new Archive());
  return instance;
}

void Archive::SetError(int32_t code, const std::u16string& file) {
  SetError(code, LastSystemError(), file);
}

void Archive::SetError(int32_t code, uint32_t systemError, const std::u16string& file) {
  lastError_.code = code;
  lastError_.systemError = systemError;
  lastError_.file = file;
}

const std::u16string& Archive::CurrentVolumeName() const {
  if (currentVolume_ >= 0 && currentVolume_ < static_cast<int>(volumes_.size())) {
    return volumes_[currentVolume_].name;
  }
  return name_;
}

bool Archive::OpenFileReader(const std::u16string& path) {
  // Read in place: others may write or cut the file while it is served (see source.h).
  SourcePtr source(FileReader::Open(path, false));
  if (!source) {
    SetError(ERROR_OPEN_FILE, path);
    return false;
  }
  name_ = path;
  volumes_.push_back(Volume{0, path, source->Size()});
  sources_.assign(1, source);
  reader_ = source;
  position_ = 0;
  currentVolume_ = 0;
  return true;
}

int32_t Archive::OpenFile(const std::u16string& path) {
  lastError_ = AZError{};
  Close();
  if (OpenFileReader(path)) LoadDirectory();
  return lastError_.code;
}

int32_t Archive::OpenMemory(const void* data, uint64_t size, const std::u16string& name) {
  if (!data || size == 0) return 0;
  return OpenSource(SourcePtr(new MemReader(data, size)), name);
}

int32_t Archive::OpenSource(SourcePtr source, const std::u16string& name) {
  if (!source || source->Size() == 0) return 0;
  // Cleared like OpenFile does, so an earlier failure is not reported for this archive.
  lastError_ = AZError{};
  reader_ = source;
  sources_.assign(1, source);
  position_ = 0;
  onePart_ = true;
  name_ = name;
  volumes_.push_back(Volume{0, name, source->Size()});
  currentVolume_ = 0;
  LoadDirectory();
  return lastError_.code;
}

void Archive::Close() {
  indexer_.reset();  // stops and joins the thread first
  reader_.Reset();
  sources_.clear();
  position_ = 0;
  entries_.clear();
  ++generation_;
  volumes_.clear();
  index_.clear();
  restartIndexes_.clear();
  currentVolume_ = -1;
  extraBuffer_.reset();
  extraCapacity_ = 0;
  directoryLoaded_ = false;
  notZip_ = false;
  onePart_ = false;
  offsetBias_ = 0;
  comment_.clear();
  commentLength_ = 0;
  cdStartDisk_ = 0;
  cdOffset_ = cdSize_ = 0;
  totalEntries_ = 0;
  checksum_ = 0;
}

bool Archive::IsOpen() const { return static_cast<bool>(reader_); }

bool Archive::SeekTo(uint64_t offset) {
  if (!reader_ || offset > static_cast<uint64_t>(INT64_MAX)) {
    SetError(ERROR_SEEK_FILE, CurrentVolumeName());
    return false;
  }
  position_ = offset;
  return true;
}

bool Archive::ReadSome(void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  if (!reader_ || !reader_->ReadAt(position_, buffer, size, got)) return false;
  position_ += got;
  return true;
}

bool Archive::ReadExact(void* buffer, uint32_t size) {
  uint32_t got = 0;
  if (!ReadSome(buffer, size, got) || got != size) {
    SetError(ERROR_READ_FILE, CurrentVolumeName());
    return false;
  }
  return true;
}

bool Archive::RebuildVolumes(uint32_t number) {
  Volume remembered = volumes_[currentVolume_];
  std::vector<Volume> rebuilt;
  std::u16string base = name_;
  size_t dot = base.find_last_of(u'.');
  size_t slash = base.find_last_of(u"\\/");
  if (dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash)) {
    base.resize(dot);
  }
  // Parts are numbered z01..z99 by the format's naming.
  for (uint32_t k = 0; k < 100; ++k) {
    if (k == remembered.number) {
      rebuilt.push_back(remembered);
      continue;
    }
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), ".z%02u", static_cast<unsigned>(k + 1));
    std::u16string partName = base + std::u16string(suffix, suffix + 4);
    if (!utils::IsExistingFile(partName)) break;
    rebuilt.push_back(Volume{k, partName, ~0ull});
  }
  if (rebuilt.size() <= remembered.number) {
    lastError_.code = AZERROR_MISSING_PART;
    lastError_.systemError = LastSystemError();
    return false;
  }
  volumes_ = std::move(rebuilt);
  currentVolume_ = static_cast<int>(remembered.number);
  return true;
}

SourcePtr Archive::VolumeSource(uint32_t number) {
  if (number >= volumes_.size() || volumes_[number].number != number) {
    SetError(AZERROR_MISSING_PART, lastError_.file);
    return {};
  }
  if (sources_.size() < volumes_.size()) sources_.resize(volumes_.size());
  if (!sources_[number]) {
    Volume& volume = volumes_[number];
    sources_[number] = SourcePtr(FileReader::Open(volume.name, false));
    if (!sources_[number]) {
      SetError(ERROR_OPEN_FILE, volume.name);
      return {};
    }
    volume.size = sources_[number]->Size();
  }
  return sources_[number];
}

bool Archive::SelectVolume(uint32_t number, uint64_t offset) {
  if (!reader_ || currentVolume_ < 0) {
    SetError(AZERR_INVALIDSTATE, name_);
    return false;
  }
  if (volumes_[currentVolume_].number == number) return SeekTo(offset);
  // An archive opened over one source has exactly one part.
  if (onePart_) {
    SetError(AZERROR_MISSING_PART, lastError_.file);
    return false;
  }
  bool listed = number < volumes_.size() && volumes_[number].number == number;
  if (!listed) {
    // The parts found so far move to their numbers in the rebuilt list.
    std::vector<SourcePtr> opened = std::move(sources_);
    const int openedAt = currentVolume_;
    const uint32_t current = volumes_[currentVolume_].number;
    if (!RebuildVolumes(number)) {
      sources_ = std::move(opened);
      return false;
    }
    sources_.assign(volumes_.size(), SourcePtr());
    if (current < sources_.size() && openedAt < static_cast<int>(opened.size())) {
      sources_[current] = opened[openedAt];
    }
  }
  // A disk number beyond the last part is checked before the current part is given up,
  // so one corrupt entry does not make the others unreachable.
  SourcePtr source = VolumeSource(number);
  if (!source) return false;
  reader_ = source;
  currentVolume_ = static_cast<int>(number);
  return SeekTo(offset);
}

const Entry* Archive::FindEntry(const std::u16string& name) const {
  std::u16string key = NormalizeEntryKey(name);
  if (key.empty() || key.size() > kMaxKeyLength) return nullptr;
  auto it = index_.find(key);
  if (it == index_.end() || it->second >= entries_.size()) return nullptr;
  return entries_[it->second].get();
}

bool Archive::GetEntryInfo(const std::u16string& name, uint32_t& size, FileTime* time) const {
  const Entry* entry = FindEntry(name);
  if (!entry) return false;
  size = static_cast<uint32_t>(entry->uncompressedSize);
  if (time && (entry->modDate != 0 || entry->modTime != 0)) {
    DosDateTimeToUtc(entry->modDate, entry->modTime, *time);
  }
  return true;
}

uint32_t Archive::GetChecksum() {
  if (checksum_ != 0 || !reader_) return checksum_;
  const uint64_t size = reader_->Size();
  if (const uint8_t* bytes = reader_->Data()) {
    // The bytes are at hand: one pass over them, spread over the cores.
    checksum_ = utils::Crc32Parallel(0, bytes, static_cast<size_t>(size));
    return checksum_;
  }
  uint32_t crc = 0;
  for (uint64_t done = 0;;) {
    uint32_t got = 0;
    if (!reader_->ReadAt(done, inBuffer_.get(), kInBufferSize, got) || got == 0) break;
    crc = utils::Crc32(crc, inBuffer_.get(), got);
    done += got;
  }
  checksum_ = crc;
  return checksum_;
}

void Archive::Extract(WriterCreatorI& creator, const std::u16string& name,
                      const std::u16string& sinkName) {
  if (!IsOpen()) {
    SetError(AZERR_INVALIDSTATE, name_);
    return;
  }
  if (!directoryLoaded_) {
    LoadDirectory();
    if (lastError_.code != 0) return;
  }
  if (notZip_) {
    SetError(AZERR_INVALIDSTATE, name_);
    return;
  }
  std::u16string key = NormalizeEntryKey(name);
  auto it = key.size() <= kMaxKeyLength ? index_.find(key) : index_.end();
  if (key.empty() || it == index_.end()) {
    SetError(AZERROR_NOT_FOUND, name);
    return;
  }
  if (it->second >= entries_.size()) {
    SetError(AZERR_INVALIDSTATE, name_);
    return;
  }
  ExtractEntry(creator, *entries_[it->second], sinkName);
}

}  // namespace amzip
