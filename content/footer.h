// The program-file footer and the pure logic that finds the appended archive.
//
// A content executable is laid out as: program image, ZIP archive, 16-byte footer
// ("KVLEXEFTR", three reserved bytes, the archive length as unsigned 32-bit
// little-endian). Nothing here touches the operating system: the locator reads the file
// through a callback, so every rule is tested over byte buffers on any host.
//
// A Windows program file that was code-signed after packing carries its certificate
// table after the footer (Authenticode appends it at the end of the file and points the
// PE security directory at it). When the last 16 bytes are not a footer and the security
// directory ends the file, the footer is looked for right before the certificate table,
// where the signing tool may have added up to 7 zero bytes to align the table to 8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace content {

inline constexpr size_t kFooterSize = 16;
inline constexpr char kFooterMagic[9] = {'K', 'V', 'L', 'E', 'X', 'E', 'F', 'T', 'R'};
// The locator reads files below 4 GiB only: the footer's length field and the mapping
// arithmetic are 32-bit.
inline constexpr uint64_t kMaxProgramFileSize = 0xFFFFFFFFull;

// The footer closing an archive of archiveLength bytes.
std::array<uint8_t, kFooterSize> MakeFooter(uint32_t archiveLength);

// The archive length when bytes (16 of them) are a footer: the magic matches and the
// length is not zero. Bytes 9 to 11 are not examined.
std::optional<uint32_t> ParseFooter(const uint8_t* bytes);

struct ArchiveLocation {
  uint64_t start = 0;      // file offset of the archive's first byte
  uint32_t size = 0;       // archive length from the footer
  uint64_t footerEnd = 0;  // file offset just past the footer (the file size unless signed)
};

// Reads len bytes at offset into buffer; false when they cannot all be read.
using ReadAtFn = std::function<bool(uint64_t offset, void* buffer, size_t len)>;

// Finds the appended archive in a file of fileSize bytes: the footer at the end of the
// file, else (signed PE) right before the certificate table. Nullopt when there is no
// usable footer: none found, length 0, an archive longer than what precedes the footer,
// a file of 4 GiB or more, or a failed read.
std::optional<ArchiveLocation> LocateArchive(uint64_t fileSize, const ReadAtFn& readAt);

// The same over bytes held in memory.
std::optional<ArchiveLocation> LocateArchiveInBytes(const uint8_t* data, size_t size);

// File offset of a PE file's certificate table when the security directory (data
// directory 4) ends the file exactly; nullopt for anything else (not a PE, no table,
// a table that does not end the file, truncated headers).
std::optional<uint64_t> FindCertificateTable(uint64_t fileSize, const ReadAtFn& readAt);

// Where a view must start to cover an archive at archiveStart, given the mapping
// granularity (a power of two or any positive value), and the archive's offset inside it.
struct ViewPlan {
  uint64_t alignedStart = 0;
  uint64_t dataOffset = 0;
};
ViewPlan PlanView(uint64_t archiveStart, uint64_t granularity);

}  // namespace content
