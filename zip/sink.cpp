#include "zip/sink.h"
#include "zip/error.h"

namespace amzip {

bool MemWriter::Write(const void* data, uint32_t size) {
  target_->append(static_cast<const char*>(data), size);
  return true;
}

WriteI* MemCreator::CreateWriter(const std::u16string& name, uint64_t size) {
  std::string& target = entries_[name];
  target.clear();
  return new MemWriter(&target);
}

const std::string* MemCreator::Find(const std::u16string& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

const char* ErrorName(int32_t code) {
  static const char* const kNames[] = {
      "FDIERROR_NONE",
      "AZERROR_NOT_FOUND",
      "AZERR_INVALIDSTATE",
      "AZERR_INVALIDARG",
      "ERROR_CREATE_FILE",
      "ERROR_OPEN_FILE",
      "ERROR_READ_FILE",
      "ERROR_WRITE_FILE",
      "ERROR_SEEK_FILE",
      "ERROR_SYSTEM",
      "ERROR_FLATE",
      "AZERROR_ZIP64_NEEDED",
      "AZERROR_UTF8_NEEDED",
      "AZERROR_FILENAME_TOO_LONG",
      "AZERROR_CENTRALDIR",
      "AZERROR_CANT_FIND_CENTRALDIR",
      "FDIERROR_BAD_COMPR_TYPE",
      "FDIERROR_UNKNOWN",  // 17 has no name of its own
      "AZERROR_FILE_EXISTS",
      "FDIERROR_UNKNOWN",  // 19 neither
      "AZERROR_GETSTREAMINFO",
      "AZERROR_MISSING_PART",
      "AZERROR_ENCRYPTED",
      "AZERROR_HEADER_MISMATCH",
      "AZERROR_CRC",
      "AZERROR_CHANGED",
  };
  if (code < 0 || code >= static_cast<int32_t>(sizeof(kNames) / sizeof(kNames[0]))) {
    return "FDIERROR_UNKNOWN";
  }
  return kNames[code];
}

}  // namespace amzip
