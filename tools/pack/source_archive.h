// pack::SourceArchive: a ZIP archive the packer reads through amzip, either a .zip file
// or the archive appended to a content executable, mapped read-only while the object
// lives (entry bytes are copied straight from the mapping).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "content/piggyback.h"
#include "utils/file/mapped_file.h"
#include "zip/archive.h"

namespace pack {

class SourceArchive {
 public:
  // Opens path. With findAppended, the archive appended to a content executable is
  // taken when the file has one, else the whole file. Without it (a source to pack, whose
  // compressed bytes are copied as they are) every deflated entry is inflated once and
  // checked, so damaged data stops the packing rather than going into the program. Empty
  // string on success, else why (without the path).
  std::string Open(const std::filesystem::path& path, bool findAppended);

  const amzip::Archive& Zip() const { return zip_; }
  bool Appended() const { return appended_; }
  uint64_t Start() const { return start_; }  // file offset of the archive's first byte
  uint64_t Size() const { return size_; }

  // The compressed bytes of entry, or null when they lie outside the archive.
  const uint8_t* Data(const amzip::Entry& entry) { return zip_.EntryData(entry); }
  // A stream of entry's uncompressed bytes (checked as amzip::Archive::OpenEntryStream
  // checks them), or empty.
  utils::SharedPtr<utils::ReadStreamI> Stream(const amzip::Entry& entry) {
    return zip_.OpenEntryStream(entry);
  }
  // The uncompressed bytes of entry when it holds at most limit of them and inflates
  // cleanly, else nullopt.
  std::optional<std::string> ReadSmall(const amzip::Entry& entry, uint64_t limit);

 private:
  // Why the first deflated entry that does not inflate to its size and CRC-32 is damaged.
  std::string CheckDeflatedData();

  utils::MappedFile file_;
  PiggyBackArchive piggyBack_;
  amzip::Archive zip_;
  bool appended_ = false;
  uint64_t start_ = 0, size_ = 0;
};

// The entry's name as UTF-8 with "/" separators ("" when the name could not be decoded).
std::string EntryPath(const amzip::Entry& entry);

// The entry's DOS date (high 16 bits) and time (low 16 bits).
inline uint32_t EntryDosTime(const amzip::Entry& entry) {
  return uint32_t(entry.modDate) << 16 | entry.modTime;
}

}  // namespace pack
