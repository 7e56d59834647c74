#include "tools/pack/pe_resources.h"
#include "tools/pack/le_bytes.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace pack {
namespace {

constexpr int kResourceDirectory = 2, kSecurityDirectory = 4, kRelocationDirectory = 5;
constexpr uint32_t kDiscardable = 0x02000000, kInitializedData = 0x00000040;
constexpr uint32_t kHighBit = 0x80000000;

uint64_t AlignUp(uint64_t v, uint32_t alignment) {
  return (v + alignment - 1) / alignment * alignment;
}

struct Section {
  size_t header;  // file offset of its 40-byte header
  uint32_t virtualSize, va, rawSize, rawPointer, flags;
  uint32_t Span() const { return virtualSize ? virtualSize : rawSize; }
};

// The headers of a PE image, checked against its length.
struct PeImage {
  size_t coff = 0, optional = 0, dirs = 0;
  uint32_t dirCount = 0, sectionAlign = 0, fileAlign = 0;
  std::vector<Section> sections;

  std::string Parse(const std::vector<uint8_t>& b) {
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return "not a Windows program";
    size_t pe = Get32(b, 0x3C);
    if (pe > b.size() - 24 || Get32(b, pe) != 0x00004550) return "not a Windows program";
    coff = pe + 4;
    uint16_t sectionCount = Get16(b, coff + 2), optionalSize = Get16(b, coff + 16);
    optional = coff + 20;
    if (optional + optionalSize + size_t{40} * sectionCount > b.size() || optionalSize < 96)
      return "the program's headers are cut short";
    uint16_t magic = Get16(b, optional);
    if (magic != 0x10B && magic != 0x20B) return "the program's optional header is unknown";
    size_t countAt = optional + (magic == 0x20B ? 108 : 92);
    dirs = countAt + 4;
    if (dirs > optional + optionalSize) return "the program's optional header is cut short";
    dirCount = std::min<uint32_t>(Get32(b, countAt),
                                  static_cast<uint32_t>((optional + optionalSize - dirs) / 8));
    sectionAlign = Get32(b, optional + 32);
    fileAlign = Get32(b, optional + 36);
    auto powerOfTwo = [](uint32_t v) { return v && !(v & (v - 1)); };
    if (!powerOfTwo(sectionAlign) || !powerOfTwo(fileAlign))
      return "the program's section alignment is invalid";
    for (uint16_t i = 0; i < sectionCount; ++i) {
      size_t h = optional + optionalSize + size_t{40} * i;
      Section s{h,
                Get32(b, h + 8),
                Get32(b, h + 12),
                Get32(b, h + 16),
                Get32(b, h + 20),
                Get32(b, h + 36)};
      if (s.rawSize && uint64_t{s.rawPointer} + s.rawSize > b.size())
        return "a section of the program lies outside the file";
      sections.push_back(s);
    }
    return {};
  }

  uint32_t DirRva(const std::vector<uint8_t>& b, int i) const {
    return uint32_t(i) < dirCount ? Get32(b, dirs + 8 * i) : 0;
  }
  uint32_t DirSize(const std::vector<uint8_t>& b, int i) const {
    return uint32_t(i) < dirCount ? Get32(b, dirs + 8 * i + 4) : 0;
  }
  // The section whose address range holds rva, or null.
  const Section* At(uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.va && rva - s.va < s.Span()) return &s;
    return nullptr;
  }
  // The file offset of the bytes [rva, rva + size), or SIZE_MAX when they are not in
  // the file.
  size_t Offset(uint32_t rva, uint32_t size) const {
    const Section* s = At(rva);
    if (!s || uint64_t{rva - s->va} + size > s->rawSize) return SIZE_MAX;
    return s->rawPointer + (rva - s->va);
  }
};

// Walks the tree below the directory at offset (relative to the root at base, which
// spans length bytes).
struct TreeReader {
  const std::vector<uint8_t>& b;
  const PeImage& pe;
  size_t base, length;
  std::vector<Resource>& out;

  bool Fits(uint64_t offset, uint64_t size) const { return offset + size <= length; }

  std::string Id(uint32_t field, ResourceId& id) {
    if (!(field & kHighBit)) {
      id.id = static_cast<uint16_t>(field);
      return {};
    }
    uint32_t at = field & ~kHighBit;
    if (!Fits(at, 2)) return "a resource name lies outside the section";
    uint16_t units = Get16(b, base + at);
    if (units == 0 || !Fits(at + 2, 2 * uint64_t{units})) return "a resource name is malformed";
    for (uint16_t i = 0; i < units; ++i) id.name += char16_t(Get16(b, base + at + 2 + 2 * i));
    return {};
  }

  std::string Directory(uint32_t at, int level, Resource& path) {
    if (!Fits(at, 16)) return "a resource directory lies outside the section";
    uint32_t entries = uint32_t{Get16(b, base + at + 12)} + Get16(b, base + at + 14);
    if (!Fits(at + 16, 8 * uint64_t{entries})) return "a resource directory is cut short";
    for (uint32_t i = 0; i < entries; ++i) {
      size_t entry = base + at + 16 + 8 * i;
      uint32_t nameField = Get32(b, entry), target = Get32(b, entry + 4);
      ResourceId id;
      if (auto why = Id(nameField, id); !why.empty()) return why;
      if ((level < 2) != bool(target & kHighBit))
        return "the resource tree is not three levels deep";
      if (level == 0) path.type = id;
      if (level == 1) path.name = id;
      if (level < 2) {
        if (auto why = Directory(target & ~kHighBit, level + 1, path); !why.empty()) return why;
        continue;
      }
      if (id.IsName()) return "a resource language is a name";
      if (!Fits(target, 16)) return "a resource data entry lies outside the section";
      uint32_t rva = Get32(b, base + target), size = Get32(b, base + target + 4);
      size_t offset = pe.Offset(rva, size);
      if (offset == SIZE_MAX) return "resource data lies outside the file";
      Resource r = path;
      r.language = id.id;
      r.codePage = Get32(b, base + target + 8);
      r.data.assign(b.begin() + offset, b.begin() + offset + size);
      out.push_back(std::move(r));
    }
    return {};
  }
};

// Named entries first, by name, then identifiers in ascending order: the order the
// loader's binary search expects.
bool Before(const ResourceId& a, const ResourceId& b) {
  if (a.IsName() != b.IsName()) return a.IsName();
  return a.IsName() ? a.name < b.name : a.id < b.id;
}
struct IdLess {
  bool operator()(const ResourceId& a, const ResourceId& b) const { return Before(a, b); }
};

using LanguageMap = std::map<uint16_t, const Resource*>;
using NameMap = std::map<ResourceId, LanguageMap, IdLess>;
using TypeMap = std::map<ResourceId, NameMap, IdLess>;

// The section's bytes for resources at base address va: all directories (breadth
// first), then the data entries, the names and the data, each block 8-byte aligned.
std::vector<uint8_t> BuildSection(const TypeMap& tree, uint32_t va) {
  auto dirSize = [](size_t entries) { return 16 + 8 * entries; };
  size_t dirs = dirSize(tree.size()), leaves = 0, names = 0;
  for (const auto& [type, byName] : tree) {
    dirs += dirSize(byName.size());
    names += type.IsName() ? 2 + 2 * type.name.size() : 0;
    for (const auto& [name, byLanguage] : byName) {
      dirs += dirSize(byLanguage.size());
      names += name.IsName() ? 2 + 2 * name.name.size() : 0;
      leaves += byLanguage.size();
    }
  }
  size_t leafAt = dirs, nameAt = leafAt + 16 * leaves, dataAt = AlignUp(nameAt + names, 8);
  std::vector<uint8_t> out(dataAt);
  size_t nextDir = dirSize(tree.size()), nextLeaf = leafAt, nextName = nameAt;

  auto putId = [&](size_t entry, const ResourceId& id) {
    if (!id.IsName()) return Put32(out, entry, id.id);
    Put32(out, entry, kHighBit | static_cast<uint32_t>(nextName));
    Put16(out, nextName, static_cast<uint32_t>(id.name.size()));
    for (size_t i = 0; i < id.name.size(); ++i) Put16(out, nextName + 2 + 2 * i, id.name[i]);
    nextName += 2 + 2 * id.name.size();
  };
  auto putDirectory = [&](size_t at, size_t namedCount, size_t total) {
    Put16(out, at + 12, static_cast<uint32_t>(namedCount));
    Put16(out, at + 14, static_cast<uint32_t>(total - namedCount));
  };
  auto namedIn = [](const auto& map) {
    return std::count_if(map.begin(), map.end(), [](const auto& e) { return e.first.IsName(); });
  };

  // Level by level, so that every directory precedes the ones below it.
  putDirectory(0, namedIn(tree), tree.size());
  std::vector<std::pair<size_t, const NameMap*>> typeDirs;
  size_t entry = 16;
  for (const auto& [type, byName] : tree) {
    putId(entry, type);
    Put32(out, entry + 4, kHighBit | static_cast<uint32_t>(nextDir));
    typeDirs.push_back({nextDir, &byName});
    nextDir += dirSize(byName.size());
    entry += 8;
  }
  std::vector<std::pair<size_t, const LanguageMap*>> nameDirs;
  for (const auto& [at, byName] : typeDirs) {
    putDirectory(at, namedIn(*byName), byName->size());
    entry = at + 16;
    for (const auto& [name, byLanguage] : *byName) {
      putId(entry, name);
      Put32(out, entry + 4, kHighBit | static_cast<uint32_t>(nextDir));
      nameDirs.push_back({nextDir, &byLanguage});
      nextDir += dirSize(byLanguage.size());
      entry += 8;
    }
  }
  for (const auto& [at, byLanguage] : nameDirs) {
    putDirectory(at, 0, byLanguage->size());
    entry = at + 16;
    for (const auto& [language, resource] : *byLanguage) {
      Put32(out, entry, language);
      Put32(out, entry + 4, static_cast<uint32_t>(nextLeaf));
      Put32(out, nextLeaf, static_cast<uint32_t>(va + out.size()));
      Put32(out, nextLeaf + 4, static_cast<uint32_t>(resource->data.size()));
      Put32(out, nextLeaf + 8, resource->codePage);
      out.insert(out.end(), resource->data.begin(), resource->data.end());
      out.resize(AlignUp(out.size(), 8));
      nextLeaf += 16;
      entry += 8;
    }
  }
  return out;
}

}  // namespace

bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& out,
                   std::string& error) {
  PeImage pe;
  out.clear();
  if (error = pe.Parse(image); !error.empty()) return false;
  uint32_t root = pe.DirRva(image, kResourceDirectory);
  if (root == 0) return true;
  const Section* s = pe.At(root);
  if (!s || root - s->va >= s->rawSize) {
    error = "the resource directory lies outside the file";
    return false;
  }
  size_t base = s->rawPointer + (root - s->va);
  TreeReader reader{image, pe, base, s->rawPointer + s->rawSize - base, out};
  Resource path;
  error = reader.Directory(0, 0, path);
  return error.empty();
}

std::string WriteResources(std::vector<uint8_t>& image, const std::vector<Resource>& resources) {
  PeImage pe;
  if (auto why = pe.Parse(image); !why.empty()) return why;
  if (pe.DirRva(image, kSecurityDirectory) || pe.DirSize(image, kSecurityDirectory))
    return "the program is signed; its resources cannot be changed without breaking the signature";
  uint32_t root = pe.DirRva(image, kResourceDirectory);
  auto found = std::find_if(pe.sections.begin(), pe.sections.end(),
                            [&](const Section& s) { return root && s.va == root; });
  if (found == pe.sections.end()) return "the program has no resource section of its own";
  const Section rsrc = *found;

  TypeMap tree;
  for (const Resource& r : resources) {
    if (!tree[r.type][r.name].emplace(r.language, &r).second) return "a resource is listed twice";
  }
  std::vector<uint8_t> section = BuildSection(tree, rsrc.va);

  int64_t vaDelta = int64_t(AlignUp(section.size(), pe.sectionAlign)) -
                    int64_t(AlignUp(rsrc.Span(), pe.sectionAlign));
  uint32_t newRaw = static_cast<uint32_t>(AlignUp(section.size(), pe.fileAlign));
  int64_t rawDelta = int64_t(newRaw) - int64_t(rsrc.rawSize);
  uint64_t rawEnd = uint64_t{rsrc.rawPointer} + rsrc.rawSize;
  uint32_t relocations = pe.DirRva(image, kRelocationDirectory);
  for (const Section& s : pe.sections) {
    if (s.header == rsrc.header) continue;
    if (s.va < rsrc.va + rsrc.Span() && s.va + s.Span() > rsrc.va)
      return "a section overlaps the resource section";
    if (s.rawSize && s.rawPointer < rawEnd && s.rawPointer + s.rawSize > rsrc.rawPointer)
      return "a section's data overlaps the resources";
    bool movable = (s.flags & kDiscardable) || (relocations && pe.At(relocations) == &s);
    if (s.va > rsrc.va && vaDelta != 0 && !movable)
      return "a section behind the resources cannot move";
  }
  for (int i = 0; i < int(pe.dirCount); ++i) {
    uint32_t rva = pe.DirRva(image, i);
    if (i != kResourceDirectory && i != kRelocationDirectory && rva >= rsrc.va && vaDelta != 0)
      return "a data directory points behind the resources";
  }
  // No relocation may patch the resources or what moves behind them.
  if (relocations) {
    size_t at = pe.Offset(relocations, pe.DirSize(image, kRelocationDirectory));
    if (at == SIZE_MAX) return "the relocation directory lies outside the file";
    for (size_t end = at + pe.DirSize(image, kRelocationDirectory); at + 8 <= end;) {
      uint32_t page = Get32(image, at), size = Get32(image, at + 4);
      if (size < 8) break;
      if (page + 4096ull > rsrc.va) return "relocations patch the resources";
      at += size;
    }
  }

  std::vector<uint8_t> out(image.begin(), image.begin() + rsrc.rawPointer);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(rsrc.rawPointer + size_t{newRaw});
  out.insert(out.end(), image.begin() + rawEnd, image.end());

  Put32(out, rsrc.header + 8, static_cast<uint32_t>(section.size()));
  Put32(out, rsrc.header + 16, newRaw);
  uint64_t imageEnd = 0;
  for (const Section& s : pe.sections) {
    uint32_t va = s.va;
    if (s.header != rsrc.header && s.va > rsrc.va) {
      va = static_cast<uint32_t>(s.va + vaDelta);
      Put32(out, s.header + 12, va);
    }
    if (s.header != rsrc.header && s.rawSize && s.rawPointer >= rawEnd)
      Put32(out, s.header + 20, static_cast<uint32_t>(s.rawPointer + rawDelta));
    uint32_t span = s.header == rsrc.header ? static_cast<uint32_t>(section.size()) : s.Span();
    imageEnd = std::max<uint64_t>(imageEnd, uint64_t{va} + span);
  }
  Put32(out, pe.dirs + 8 * kResourceDirectory, rsrc.va);
  Put32(out, pe.dirs + 8 * kResourceDirectory + 4, static_cast<uint32_t>(section.size()));
  if (relocations > rsrc.va)
    Put32(out, pe.dirs + 8 * kRelocationDirectory, static_cast<uint32_t>(relocations + vaDelta));
  uint32_t symbols = Get32(out, pe.coff + 8);
  if (symbols >= rawEnd) Put32(out, pe.coff + 8, static_cast<uint32_t>(symbols + rawDelta));
  Put32(out, pe.optional + 56, static_cast<uint32_t>(AlignUp(imageEnd, pe.sectionAlign)));
  if (rsrc.flags & kInitializedData) {
    int64_t data = int64_t(Get32(out, pe.optional + 8)) + rawDelta;
    Put32(out, pe.optional + 8, static_cast<uint32_t>(std::max<int64_t>(data, 0)));
  }
  Put32(out, pe.optional + 64, 0);  // CheckSum
  image = std::move(out);
  return {};
}

bool DropSignature(std::vector<uint8_t>& image) {
  PeImage pe;
  if (!pe.Parse(image).empty() || uint32_t(kSecurityDirectory) >= pe.dirCount) return false;
  uint64_t at = pe.DirRva(image, kSecurityDirectory), size = pe.DirSize(image, kSecurityDirectory);
  if (at == 0 && size == 0) return false;
  // The table lies outside the image the loader maps: cut it out of the file.
  if (at >= pe.dirs && at < image.size())
    image.erase(image.begin() + at, image.begin() + std::min<uint64_t>(at + size, image.size()));
  Put32(image, pe.dirs + 8 * kSecurityDirectory, 0);
  Put32(image, pe.dirs + 8 * kSecurityDirectory + 4, 0);
  return true;
}

size_t ChecksumOffset(const std::vector<uint8_t>& image) {
  PeImage pe;
  return pe.Parse(image).empty() ? pe.optional + 64 : 0;
}

void PeChecksum::Add(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i, ++length_) {
    uint32_t byte = length_ - field_ < 4 ? 0 : data[i];
    if (!(length_ & 1)) {
      low_ = byte;
      continue;
    }
    sum_ += low_ | byte << 8;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
}

uint32_t PeChecksum::Value() const {
  uint32_t sum = sum_;
  if (length_ & 1) {
    sum += low_;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return uint32_t(((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF) + uint32_t(length_);
}

}  // namespace pack
