#include "content/footer.h"

#include <cstring>

namespace content {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The footer ending at footerEnd, checked against what precedes it.
std::optional<ArchiveLocation> FooterEndingAt(uint64_t footerEnd, const ReadAtFn& readAt) {
  if (footerEnd < kFooterSize) return std::nullopt;
  uint8_t bytes[kFooterSize];
  if (!readAt(footerEnd - kFooterSize, bytes, kFooterSize)) return std::nullopt;
  auto length = ParseFooter(bytes);
  if (!length || *length > footerEnd - kFooterSize) return std::nullopt;
  ArchiveLocation location;
  location.size = *length;
  location.start = footerEnd - kFooterSize - *length;
  location.footerEnd = footerEnd;
  return location;
}

// Signing tools pad the file with zero bytes so that the certificate table starts on an
// 8-byte boundary; the footer then ends up to 7 bytes before the table.
constexpr uint64_t kMaxSignaturePadding = 7;

}  // namespace

std::array<uint8_t, kFooterSize> MakeFooter(uint32_t archiveLength) {
  std::array<uint8_t, kFooterSize> footer{};
  std::memcpy(footer.data(), kFooterMagic, sizeof kFooterMagic);
  for (int i = 0; i < 4; ++i) footer[12 + i] = uint8_t(archiveLength >> (8 * i));
  return footer;
}

std::optional<uint32_t> ParseFooter(const uint8_t* bytes) {
  if (std::memcmp(bytes, kFooterMagic, sizeof kFooterMagic) != 0) return std::nullopt;
  uint32_t length = Le32(bytes + 12);
  if (length == 0) return std::nullopt;
  return length;
}

std::optional<uint64_t> FindCertificateTable(uint64_t fileSize, const ReadAtFn& readAt) {
  uint8_t dos[64];
  if (fileSize < sizeof dos || !readAt(0, dos, sizeof dos)) return std::nullopt;
  if (dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  uint64_t pe = Le32(dos + 0x3C);
  // Signature (4), file header (20), then the optional header's magic and, at most 112
  // bytes in, its data directories.
  uint8_t head[24 + 2];
  if (pe + sizeof head > fileSize || !readAt(pe, head, sizeof head)) return std::nullopt;
  if (std::memcmp(head, "PE\0\0", 4) != 0) return std::nullopt;
  uint16_t optionalSize = Le16(head + 4 + 16);
  uint16_t magic = Le16(head + 24);
  uint64_t countOffset;  // NumberOfRvaAndSizes, the data directories follow it
  if (magic == 0x10B) {
    countOffset = 92;  // PE32
  } else if (magic == 0x20B) {
    countOffset = 108;  // PE32+
  } else {
    return std::nullopt;
  }
  constexpr uint64_t kSecurity = 4;
  uint64_t entryEnd = countOffset + 4 + (kSecurity + 1) * 8;
  if (optionalSize < entryEnd) return std::nullopt;
  uint8_t optional[160];  // PE32+ needs 152 bytes up to the security entry
  uint64_t optionalStart = pe + 24;
  if (optionalStart + entryEnd > fileSize || !readAt(optionalStart, optional, entryEnd))
    return std::nullopt;
  if (Le32(optional + countOffset) <= kSecurity) return std::nullopt;
  const uint8_t* entry = optional + countOffset + 4 + kSecurity * 8;
  // The security directory holds a file offset, not a virtual address.
  uint64_t tableOffset = Le32(entry);
  uint64_t tableSize = Le32(entry + 4);
  if (tableOffset == 0 || tableSize == 0 || tableOffset + tableSize != fileSize)
    return std::nullopt;
  return tableOffset;
}

std::optional<ArchiveLocation> LocateArchive(uint64_t fileSize, const ReadAtFn& readAt) {
  if (fileSize < kFooterSize || fileSize > kMaxProgramFileSize) return std::nullopt;
  if (auto location = FooterEndingAt(fileSize, readAt)) return location;
  // Only when the end is not a footer: a packed file that is also a signed PE but whose
  // footer is last (signed, then packed) keeps the plain rule above.
  auto table = FindCertificateTable(fileSize, readAt);
  if (!table) return std::nullopt;
  for (uint64_t padding = 0; padding <= kMaxSignaturePadding && padding <= *table; ++padding) {
    uint64_t footerEnd = *table - padding;
    if (padding > 0) {
      uint8_t pad;
      if (!readAt(footerEnd, &pad, 1) || pad != 0) break;  // padding is zero bytes only
    }
    if (auto location = FooterEndingAt(footerEnd, readAt)) return location;
  }
  return std::nullopt;
}

std::optional<ArchiveLocation> LocateArchiveInBytes(const uint8_t* data, size_t size) {
  return LocateArchive(size, [data, size](uint64_t offset, void* buffer, size_t len) {
    if (offset > size || len > size - offset) return false;
    std::memcpy(buffer, data + offset, len);
    return true;
  });
}

ViewPlan PlanView(uint64_t archiveStart, uint64_t granularity) {
  ViewPlan plan;
  if (granularity == 0) granularity = 1;
  plan.alignedStart = archiveStart - archiveStart % granularity;
  plan.dataOffset = archiveStart - plan.alignedStart;
  return plan;
}

}  // namespace content
