#include "zip/source.h"

#include <algorithm>
#include <cstring>

namespace amzip {

bool MemReader::ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  if (offset >= size_ || size == 0) return true;
  uint64_t n = std::min<uint64_t>(size, size_ - offset);
  std::memcpy(buffer, data_ + offset, n);
  got = static_cast<uint32_t>(n);
  return true;
}

bool FileReader::Mappable(uint64_t length) {
  // A 32-bit process has 2 to 4 GiB of address space for everything: larger archives
  // there are read in place, which needs one block per read and no view.
  return length > 0 && (sizeof(void*) >= 8 || length <= kMaxView32);
}

FileReader::FileReader(std::unique_ptr<utils::MappedFile> file, uint64_t start, uint64_t length,
                       bool map)
    : file_(std::move(file)), start_(start), length_(length) {
  opened_ = Stamp();
  if (!map || !Mappable(length)) return;
  const uint64_t granularity = utils::MappedFile::Granularity();
  const uint64_t aligned = start - start % granularity;
  if (const uint8_t* view = file_->Map(aligned)) data_ = view + (start - aligned);
}

utils::SharedPtr<FileReader> FileReader::Open(const std::u16string& path, bool map) {
  auto file = std::make_unique<utils::MappedFile>();
  if (!file->Open(path)) return {};
  uint64_t size = file->GetSize();
  return Region(std::move(file), 0, size, map);
}

utils::SharedPtr<FileReader> FileReader::Region(std::unique_ptr<utils::MappedFile> file,
                                                uint64_t start, uint64_t length, bool map) {
  if (!file || !file->IsOpen() || start > file->GetSize() || length > file->GetSize() - start) {
    return {};
  }
  return utils::SharedPtr<FileReader>(new FileReader(std::move(file), start, length, map));
}

bool FileReader::ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  if (offset >= length_ || size == 0) return true;
  uint64_t n = std::min<uint64_t>(size, length_ - offset);
  if (data_) {
    std::memcpy(buffer, data_ + offset, n);
  } else if (!file_->ReadAt(start_ + offset, buffer, static_cast<size_t>(n))) {
    return false;
  }
  got = static_cast<uint32_t>(n);
  return true;
}

bool FileReader::FileAt(uintptr_t& file, uint64_t& start) const {
  file = file_->NativeHandle();
  start = start_;
  return true;
}

utils::FileStamp FileReader::Stamp() const {
  utils::FileStamp stamp;
  // A file that cannot be asked counts as changed: its size reads as all bits set.
  if (!file_->Stamp(stamp)) stamp.size = ~0ull;
  return stamp;
}

utils::FileStamp ChainReader::Stamp() const {
  utils::FileStamp sum;
  for (const SourcePtr& part : parts_) {
    if (!part) continue;
    utils::FileStamp stamp = part->Stamp();
    sum.size += stamp.size;
    sum.modified += stamp.modified;
  }
  return sum;
}

bool ChainReader::Changed() const {
  for (const SourcePtr& part : parts_) {
    if (part && part->Changed()) return true;
  }
  return false;
}

ChainReader::ChainReader(std::vector<SourcePtr> parts) : parts_(std::move(parts)) {
  for (const SourcePtr& part : parts_) size_ += part ? part->Size() : 0;
}

bool ChainReader::ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  for (const SourcePtr& part : parts_) {
    if (got == size) break;
    uint64_t partSize = part ? part->Size() : 0;
    if (offset >= partSize) {
      offset -= partSize;
      continue;
    }
    uint32_t n = 0;
    if (!part->ReadAt(offset, out + got, size - got, n)) return false;
    got += n;
    offset = 0;
    if (n == 0) break;
  }
  return true;
}

}  // namespace amzip
