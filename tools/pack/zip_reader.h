// pack::ReadCentralDirectory: the entries of a ZIP archive, read from its central
// directory, for listing a content executable and for repacking a source ZIP.
//
// Only what the packer needs: no ZIP64, no split archives, no encryption (those entries
// are reported so the caller can refuse them). Failures come back as a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "content/footer.h"

namespace pack {

struct ZipEntry {
  std::string name;  // UTF-8 (names without the UTF-8 flag are converted from CP437)
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dosTime = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t localHeaderOffset = 0;  // from the archive's first byte
  bool zip64 = false;              // a size or offset field holds 0xFFFFFFFF
};

// Reads the central directory of the archive of archiveSize bytes that begins at
// archiveStart. Empty result and a message in error on failure.
std::optional<std::vector<ZipEntry>> ReadCentralDirectory(uint64_t archiveStart,
                                                          uint64_t archiveSize,
                                                          const content::ReadAtFn& readAt,
                                                          std::string& error);

// Offset of an entry's data from the archive's first byte (after its local header).
std::optional<uint64_t> EntryDataOffset(uint64_t archiveStart, const ZipEntry& entry,
                                        const content::ReadAtFn& readAt);

// CP437 bytes as UTF-8.
std::string Cp437ToUtf8(const std::string& bytes);

}  // namespace pack
