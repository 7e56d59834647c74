// GzipMemberStream: a deflated ZIP entry served as one gzip member (RFC 1952) without
// inflating it: a fixed 10-byte header, the entry's raw deflate data as the archive holds
// it, and a trailer of the entry's CRC-32 and size. The client inflates it and checks the
// CRC, so damaged data ends in a decoding error and never in wrong bytes taken for right.
//
// The raw bytes are read from the archive's source where the entry's location says
// (straight from memory for the mapped program file, by positioned reads for a file named
// on the command line); a read that comes up short, or finds the file changed since the
// entry was checked, fails. Network thread only, like every provider stream.
#pragma once

#include <cstdint>
#include <string>

#include "utils/read_stream.h"
#include "utils/shared_ptr.h"
#include "zip/entry_stream.h"

namespace storage {

class GzipMemberStream : public utils::ReadStreamI {
 public:
  // where: a deflated entry as amzip::Archive::LocateEntry gives it.
  GzipMemberStream(amzip::EntryLocation where, std::u16string name);

  uint64_t GetSize() override { return kHeaderSize + where_.compressedSize + kTrailerSize; }
  using utils::ReadStreamI::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  int64_t Seek64(int origin, int64_t offset) override;
  const std::u16string& GetName() override { return name_; }

 private:
  static constexpr uint64_t kHeaderSize = 10;
  static constexpr uint64_t kTrailerSize = 8;

  amzip::EntryLocation where_;
  const uint8_t* raw_ = nullptr;  // the raw data when the source is in memory
  uint8_t header_[kHeaderSize];
  uint8_t trailer_[kTrailerSize];
  uint64_t position_ = 0;
  bool failed_ = false;
  std::u16string name_;
};

}  // namespace storage
