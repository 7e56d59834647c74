// The resources of a Windows program (PE32 or PE32+): read as a flat list, and written
// back by rebuilding the resource section.
//
// ReadResources walks the three-level resource tree (type, name, language) of the section
// that the resource data directory names and copies out every data block. WriteResources
// lays the whole list out as a new resource section in place of the old one and fixes
// what depends on its size: the section's sizes, the resource data directory, the image
// size and the initialized-data size. Sections behind it move up or down with it, which
// is allowed only for sections that nothing but the loader's base-relocation directory
// points into (".reloc") or that are never loaded (discardable, e.g. debug sections);
// anything else behind the resources, a signed program, or a malformed image is refused
// with a message. Bytes behind the last section (a COFF symbol table) move along. The
// header checksum is cleared: it covers the whole file, content appended later
// included, so the packer sets it last (PeChecksum).
//
// Pure functions over bytes; no platform calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pack {

// A type or name: an integer identifier, or a name (then id is unused).
struct ResourceId {
  uint16_t id = 0;
  std::u16string name;

  bool IsName() const { return !name.empty(); }
  bool operator==(const ResourceId& o) const { return id == o.id && name == o.name; }
};

inline constexpr uint16_t kRtIcon = 3;
inline constexpr uint16_t kRtGroupIcon = 14;
inline constexpr uint16_t kRtVersion = 16;

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Every resource of image in tree order; false with error set when the image or its tree
// is malformed. A program without resources gives an empty list.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& out,
                   std::string& error);

// Replaces the resource section of image by one holding resources (any order; an empty
// list is written as an empty tree). Returns "" or why the image cannot be rewritten;
// image is changed only on success.
std::string WriteResources(std::vector<uint8_t>& image, const std::vector<Resource>& resources);

// Removes an Authenticode signature: the certificate table (found by file offset through
// the security directory; signing tools put it at the end of the file) and the directory
// entry. True when image carried one; image is unchanged otherwise.
bool DropSignature(std::vector<uint8_t>& image);

// The file offset of the header checksum field, 0 when image is not a Windows program.
size_t ChecksumOffset(const std::vector<uint8_t>& image);

// The header checksum of a whole file, as the loader and CheckSumMappedFile compute it:
// the one's-complement sum of its little-endian 16-bit words (the checksum field counted
// as zero, an odd last byte as a word of its own) plus the file's length. Fed in pieces,
// in order.
class PeChecksum {
 public:
  explicit PeChecksum(size_t fieldAt) : field_(fieldAt) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Value() const;

 private:
  size_t field_;
  uint64_t length_ = 0;
  uint32_t sum_ = 0, low_ = 0;  // low_: the first byte of a word not yet complete
};

}  // namespace pack
