#include "utils/file/streams.h"

namespace utils {

ReadFileStream::ReadFileStream(const std::u16string& path) : file_(new File(nullptr)) {
  if (file_->Open(path, false, true)) {
    name_ = path;
  } else {
    file_.reset();
  }
}

bool ReadFileStream::IsOpen() { return file_ && file_->IsOpen(); }
uint64_t ReadFileStream::GetSize() { return file_ ? file_->GetSize() : 0; }

bool ReadFileStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  return file_ ? file_->Read(buffer, count, got) : false;
}

int64_t ReadFileStream::Seek64(int origin, int64_t offset) {
  if (!IsOpen() || origin < 0 || origin > 2) return kSeekFailed;
  // File::Seek64 throws where this interface answers -1.
  try {
    return static_cast<int64_t>(file_->Seek64(origin, offset));
  } catch (...) {
    return kSeekFailed;
  }
}

void ReadFileStream::Close() {
  if (file_) file_->Close();
}

void ReadFileStream::SetCacheFlags(uint32_t flags) {
  if (file_) file_->SetCacheFlags(flags);
}

bool ReadFileStream::CheckCacheFlags(uint32_t flags) { return file_ && (flags & 7) == flags; }
const std::u16string& ReadFileStream::GetName() { return name_; }

}  // namespace utils
