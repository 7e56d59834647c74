#include "zip/archive.h"

#include <algorithm>
#include <cstdio>
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
  reader_ = std::make_unique<FileReader>(path);
  if (!reader_->IsOpen()) {
    SetError(ERROR_OPEN_FILE, path);
    return false;
  }
  name_ = path;
  uint64_t size = ~0ull;
  if (reader_->Seek(0, 2)) size = reader_->Tell();
  volumes_.push_back(Volume{0, path, size});
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
  // Cleared like OpenFile does, so an earlier failure is not reported for this archive.
  lastError_ = AZError{};
  reader_ = std::make_unique<MemReader>(data, size);
  memData_ = static_cast<const uint8_t*>(data);
  memSize_ = size;
  name_ = name;
  volumes_.push_back(Volume{0, name, size});
  currentVolume_ = 0;
  LoadDirectory();
  return lastError_.code;
}

void Archive::Close() {
  if (reader_) reader_->Close();
  reader_.reset();
  entries_.clear();
  volumes_.clear();
  index_.clear();
  currentVolume_ = -1;
  extraBuffer_.reset();
  extraCapacity_ = 0;
  directoryLoaded_ = false;
  notZip_ = false;
  memData_ = nullptr;
  memSize_ = 0;
  offsetBias_ = 0;
  comment_.clear();
  commentLength_ = 0;
  cdStartDisk_ = 0;
  cdOffset_ = cdSize_ = 0;
  totalEntries_ = 0;
}

bool Archive::IsOpen() const { return reader_ && reader_->IsOpen(); }

bool Archive::SeekTo(uint64_t offset) {
  // Sources seek by a signed 32-bit offset: anything beyond is out of reach.
  if (!reader_ || offset > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
      !reader_->Seek(static_cast<int32_t>(offset), 0)) {
    SetError(ERROR_SEEK_FILE, CurrentVolumeName());
    return false;
  }
  return true;
}

bool Archive::ReadExact(void* buffer, uint32_t size) {
  uint32_t got = 0;
  if (!reader_ || !reader_->Read(buffer, size, got) || got != size) {
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
    if (!IsExistingFile(partName)) break;
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

bool Archive::SelectVolume(uint32_t number, uint64_t offset) {
  if (!reader_ || currentVolume_ < 0) {
    SetError(AZERR_INVALIDSTATE, name_);
    return false;
  }
  if (volumes_[currentVolume_].number == number) return SeekTo(offset);
  // A memory archive has exactly one part.
  if (memData_) {
    SetError(AZERROR_MISSING_PART, lastError_.file);
    return false;
  }
  bool listed = number < volumes_.size() && volumes_[number].number == number;
  if (!listed && !RebuildVolumes(number)) return false;
  // A disk number beyond the last part is checked before the current part is given up,
  // so one corrupt entry does not make the others unreachable.
  if (number >= volumes_.size() || volumes_[number].number != number) {
    SetError(AZERROR_MISSING_PART, lastError_.file);
    return false;
  }
  reader_->Close();
  reader_.reset();
  currentVolume_ = static_cast<int>(number);
  Volume& volume = volumes_[number];
  reader_ = std::make_unique<FileReader>(volume.name);
  if (!reader_->IsOpen()) {
    SetError(ERROR_OPEN_FILE, volume.name);
    return false;
  }
  if (volume.size == ~0ull && reader_->Seek(0, 2)) volume.size = reader_->Tell();
  return SeekTo(offset);
}

bool Archive::ReadSpanning(void* buffer, uint32_t size, uint32_t& got) {
  for (;;) {
    got = 0;
    if (!reader_->Read(buffer, size, got)) {
      // A memory source reports its end as a failed read; a file as 0 bytes.
      if (!memData_ || reader_->Tell() < memSize_) {
        SetError(ERROR_READ_FILE, CurrentVolumeName());
        return false;
      }
    }
    if (got > 0) return true;
    uint32_t next = volumes_[currentVolume_].number + 1;
    if (memData_ || next >= volumes_.size() || volumes_[next].number != next) {
      SetError(ERROR_READ_FILE, CurrentVolumeName());
      return false;
    }
    if (!SelectVolume(next, 0)) return false;
  }
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
  if (checksum_ != 0 || !reader_ || !reader_->Seek(0, 0)) return checksum_;
  if (memData_) {
    // The bytes are at hand: one pass over them, spread over the cores.
    checksum_ = utils::Crc32Parallel(0, memData_, memSize_);
    return checksum_;
  }
  uint32_t crc = 0;
  for (;;) {
    uint32_t got = 0;
    if (!reader_->Read(inBuffer_.get(), kInBufferSize, got) || got == 0) break;
    crc = utils::Crc32(crc, inBuffer_.get(), got);
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
