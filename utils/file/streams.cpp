#include "utils/file/streams.h"

#include <cstring>
#include <utility>

namespace utils {

ReadFileStream::ReadFileStream(const std::u16string& path) : file_(new File(nullptr)) {
  if (file_->Open(path, false, true)) {
    name_ = path;
  } else {
    delete file_;
    file_ = nullptr;
  }
}

ReadFileStream::~ReadFileStream() {
  if (ownsFile_) delete file_;
}

bool ReadFileStream::IsOpen() { return file_ && file_->IsOpen(); }
uint64_t ReadFileStream::GetSize() { return file_ ? file_->GetSize() : 0; }

uint32_t ReadFileStream::Read(void* buffer, uint32_t count) {
  return file_ ? file_->Read(buffer, count) : 0;
}

bool ReadFileStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  return file_ ? file_->Read(buffer, count, got) : false;
}

bool ReadFileStream::ReadByte(uint8_t& out) {
  if (!file_) {
    out = 0;
    return false;
  }
  return file_->ReadByte(out);
}

uint32_t ReadFileStream::Seek(int origin, int32_t offset) {
  return file_ ? file_->Seek(origin, offset) : 0xFFFFFFFFu;
}

int64_t ReadFileStream::Seek64(int origin, int64_t offset) {
  return file_ ? static_cast<int64_t>(file_->Seek64(origin, offset)) : -1;
}

void ReadFileStream::Close() {
  if (file_) file_->Close();
}

void ReadFileStream::SetCacheFlags(uint32_t flags) {
  if (file_) file_->SetCacheFlags(flags);
}

bool ReadFileStream::CheckCacheFlags(uint32_t flags) { return file_ && (flags & 7) == flags; }
const std::u16string& ReadFileStream::GetName() { return name_; }
void ReadFileStream::SetName(const std::u16string& name) { name_ = name; }

StreamReader::StreamReader(std::string data, std::u16string name)
    : data_(std::move(data)), name_(std::move(name)) {}

bool StreamReader::IsOpen() { return true; }
uint64_t StreamReader::GetSize() { return data_.size(); }

uint32_t StreamReader::Read(void* buffer, uint32_t count) {
  uint64_t length = data_.size();
  if (position_ >= length || !buffer) return 0;
  uint64_t n = length - position_;
  if (count < n) n = count;
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return static_cast<uint32_t>(n);
}

bool StreamReader::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = Read(buffer, count);
  return true;
}

bool StreamReader::ReadByte(uint8_t& out) {
  if (position_ >= data_.size()) return false;
  out = static_cast<uint8_t>(data_[position_++]);
  return true;
}

int64_t StreamReader::Seek64(int origin, int64_t offset) {
  position_ = UnboundedSeek(origin, offset, position_, data_.size());
  return static_cast<int64_t>(position_);
}

uint32_t StreamReader::Seek(int origin, int32_t offset) {
  return static_cast<uint32_t>(Seek64(origin, static_cast<int64_t>(offset)));
}

void StreamReader::Close() {}
bool StreamReader::CheckCacheFlags(uint32_t flags) { return (flags & 7) == flags; }
const std::u16string& StreamReader::GetName() { return name_; }

}  // namespace utils
