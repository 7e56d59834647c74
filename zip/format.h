// The ZIP format's numbers, named once for the reader: record signatures, compression
// methods, general-purpose flags, the ZIP64 markers and extra-field ids, and the one
// little-endian reader of 16-, 32- and 64-bit fields. Every integer in a ZIP archive is
// little-endian; reading them byte by byte keeps the reader independent of the host's
// byte order and of alignment.
#pragma once

#include <cstdint>

namespace amzip {

// Record signatures ("PK" and two bytes), as the u32 read at the record's first byte.
constexpr uint32_t kSigLocalHeader = 0x04034b50;
constexpr uint32_t kSigCentralHeader = 0x02014b50;
constexpr uint32_t kSigDigitalSignature = 0x05054b50;
constexpr uint32_t kSigZip64End = 0x06064b50;
constexpr uint32_t kSigZip64Locator = 0x07064b50;
constexpr uint32_t kSigEndRecord = 0x06054b50;
constexpr uint32_t kSigDataDescriptor = 0x08074b50;  // also the first bytes of a split archive
constexpr uint32_t kSigSpanningMarker = 0x30304b50;  // "PK00"
constexpr uint32_t kSigArchiveExtraData = 0x08064b50;

// Fixed sizes of records, signature included.
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kZip64EndSize = 56;  // without extensible data
constexpr uint32_t kZip64LocatorSize = 20;

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodAes = 99;  // WinZip AES: encrypted

// General-purpose flags.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;  // sizes and CRC-32 follow the data
constexpr uint16_t kFlagUtf8 = 0x0800;

// External attributes: the MS-DOS directory bit.
constexpr uint32_t kAttributeDirectory = 0x10;

// A 32-bit or 16-bit field holding this value has its real value in a ZIP64 record.
constexpr uint32_t kMarker32 = 0xFFFFFFFFu;
constexpr uint16_t kMarker16 = 0xFFFF;
// The version needed to extract that announces ZIP64 fields.
constexpr uint16_t kVersionZip64 = 45;

// Extra-field block ids.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodePath = 0x7075;  // Info-ZIP Unicode Path

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) {
  return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

}  // namespace amzip
