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
// header checksum is cleared: the loader does not check it for programs, and content
// appended later would change it anyway.
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

}  // namespace pack
