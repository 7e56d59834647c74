// Reading an archive's directory: the backward search for the end record, the state
// machine over the directory's records, and the headers that become entries. When no end
// record exists the local headers are scanned from the start instead.
#include <algorithm>
#include <cstring>

#include "zip/archive.h"
#include "zip/entry_key.h"
#include "zip/format.h"

namespace amzip {

namespace {

constexpr uint32_t kSearchBlock = 32764;
// The first two bytes of a GZIP stream, read little-endian.
constexpr uint32_t kGzipMagic = 0x8b1f;

bool EqualsNoCaseAscii(const std::u16string& a, const char16_t* b) {
  size_t n = std::char_traits<char16_t>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = a[i] >= u'A' && a[i] <= u'Z' ? a[i] + 32 : a[i];
    if (c != b[i]) return false;
  }
  return true;
}

}  // namespace

class DirectoryReader {
 public:
  explicit DirectoryReader(Archive& archive) : a_(archive) {}

  void Run() {
    bool found = false;
    if (!FindEndRecord(found) || a_.notZip_) return;
    int state = 0;
    if (found) {
      if (!a_.SeekTo(a_.cdOffset_ + a_.offsetBias_)) return;
      state = 10;
    } else if (!a_.SeekTo(0)) {
      return;
    }
    while (state != 99 && a_.lastError_.code == 0) Step(state);
    a_.directoryLoaded_ = true;
  }

 private:
  bool Ok() const { return a_.lastError_.code == 0; }
  const std::u16string& VolumeName() const { return a_.CurrentVolumeName(); }
  uint64_t VolumeSize() const { return a_.volumes_[a_.currentVolume_].size; }

  bool ReadU32(uint32_t& value) {
    uint8_t b[4];
    if (!a_.ReadExact(b, 4)) return false;
    value = Le32(b);
    return true;
  }
  bool Skip(uint64_t count) {
    uint64_t position = a_.position_;
    if (count > ~0ull - position) {
      a_.SetError(ERROR_SEEK_FILE, VolumeName());
      return false;
    }
    return a_.SeekTo(position + count);
  }

  void Reject() { a_.SetError(FDIERROR_UNKNOWN, VolumeName()); }

  void Step(int& state) {
    uint64_t at = a_.position_;
    uint32_t signature;
    if (!ReadU32(signature)) return;
    uint8_t b[16];
    switch (signature) {
      case kSigLocalHeader:
        if (state != 0 && state != 1) return Reject();
        if (ReadHeader(false, at)) state = 1;
        return;
      case kSigCentralHeader:
        if (state != 1 && state != 10) return Reject();
        if (ReadHeader(true, at)) state = 10;
        return;
      case kSigDigitalSignature:
        if (state != 10) return Reject();
        if (a_.ReadExact(b, 2) && Skip(Le16(b))) state = 11;
        return;
      case kSigZip64End:
        if (state != 10 && state != 11 && state != 20 && state != 21) return Reject();
        if (a_.ReadExact(b, 8) && Skip(Le64(b))) state = 20;
        return;
      case kSigZip64Locator:
        if (state != 20) return Reject();
        if (Skip(16)) state = 21;
        return;
      case kSigEndRecord:
        if (state != 10 && state != 11 && state != 20 && state != 21) return Reject();
        state = 99;
        return;
      case kSigDataDescriptor:
        a_.ReadExact(b, 12);
        return;
      case kSigSpanningMarker:
        state = 1;
        return;
      case kSigArchiveExtraData:
        if (state == 0) return Reject();
        // A u32 length and that many bytes, passed over whole.
        if (a_.ReadExact(b, 4)) Skip(Le32(b));
        return;
      default:
        a_.SetError(AZERROR_BAD_SIGNATURE, VolumeName());
        return;
    }
  }

  bool FindEndRecord(bool& found) {
    found = false;
    if (!a_.SeekTo(0)) return false;
    uint8_t first[4] = {};
    uint32_t got = 0;
    a_.ReadSome(first, 4, got);
    uint32_t signature = got == 4 ? Le32(first) : 0;
    if (signature == kSigDataDescriptor) {
      // The first part of a split archive: the directory is in the part named .zip.
      std::u16string& name = a_.name_;
      size_t dot = name.find_last_of(u'.');
      size_t slash = name.find_last_of(u"\\/");
      bool hasExtension =
          dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
      // An archive opened over one source has no parts beside it to look for.
      if (a_.onePart_ || (hasExtension && EqualsNoCaseAscii(name.substr(dot + 1), u"zip"))) {
        a_.SetError(AZERROR_CANT_FIND_CENTRALDIR, name);
        return false;
      }
      std::u16string last = (hasExtension ? name.substr(0, dot) : name) + u".zip";
      a_.Close();
      if (!a_.OpenFileReader(last)) return false;
      return FindEndRecord(found);
    }
    if (signature != kSigSpanningMarker && (signature & kGzipMagic) == kGzipMagic) {
      a_.notZip_ = true;
      return true;
    }
    uint8_t* buffer = a_.inBuffer_.get();
    uint64_t size = VolumeSize();
    uint64_t blockEnd = size;
    std::memset(buffer + kSearchBlock, 0, 4);
    for (;;) {
      uint64_t blockStart = blockEnd > kSearchBlock ? blockEnd - kSearchBlock : 0;
      uint32_t length = static_cast<uint32_t>(blockEnd - blockStart);
      if (blockEnd != size) {
        std::memmove(buffer + length, buffer, 4);  // the signature may straddle blocks
      } else {
        std::memset(buffer + length, 0, 4);
      }
      if (!a_.SeekTo(blockStart)) return false;
      got = 0;
      if (!a_.ReadSome(buffer, length, got)) {
        a_.SetError(ERROR_READ_FILE, VolumeName());
        return false;
      }
      if (got == 0) return true;
      if (got < length) std::memset(buffer + got, 0, length - got + 4);
      for (uint32_t i = length; i-- > 0;) {
        if (Le32(buffer + i) == kSigEndRecord) {
          if (!a_.SeekTo(blockStart + i + 4)) return false;
          found = true;
          return ReadEndRecord(blockStart + i);
        }
      }
      if (blockStart == 0) return true;
      blockEnd = blockStart;
    }
  }

  // What an end record says, classic or ZIP64, widened to the ZIP64 field sizes.
  struct EndValues {
    uint32_t thisDisk = 0, cdDisk = 0;
    uint64_t totalEntries = 0, cdSize = 0, cdOffset = 0;
  };

  bool ReadEndRecord(uint64_t recordOffset) {
    uint8_t b[18];
    if (!a_.ReadExact(b, sizeof(b))) return false;
    EndValues classic;
    classic.thisDisk = Le16(b);
    classic.cdDisk = Le16(b + 2);
    classic.totalEntries = Le16(b + 6);
    classic.cdSize = Le32(b + 8);
    classic.cdOffset = Le32(b + 12);
    a_.commentLength_ = Le16(b + 16);
    // A comment cut short by the end of the file is kept as far as it goes.
    a_.comment_.assign(a_.commentLength_, '\0');
    uint32_t got = 0;
    if (a_.commentLength_ > 0) a_.ReadSome(a_.comment_.data(), a_.commentLength_, got);
    a_.comment_.resize(got);
    while (a_.position_ + 4 < VolumeSize()) {
      uint32_t signature;
      uint8_t length[8];
      if (!ReadU32(signature)) return false;
      if (signature == kSigZip64End) {
        if (!a_.ReadExact(length, 8) || !Skip(Le64(length))) return false;
      } else if (signature == kSigZip64Locator) {
        if (!Skip(16)) return false;
      } else {
        break;
      }
    }
    // The values used: the classic record's, each field that holds the ZIP64 marker
    // (disk numbers included) taken from the ZIP64 end record; when that leaves the
    // classic record inconsistent but the ZIP64 record is sound, the ZIP64 record whole
    // (readers such as unzip, 7-Zip and bsdtar accept both). With neither, the classic
    // values go on, and fail as they always did.
    EndValues zip64;
    uint64_t zip64Offset = 0;
    const bool hasZip64 = ReadZip64End(recordOffset, zip64, zip64Offset);
    const uint64_t directoryEnd = hasZip64 ? zip64Offset : recordOffset;
    EndValues used = classic;
    if (hasZip64) {
      if (classic.thisDisk == kMarker16) used.thisDisk = zip64.thisDisk;
      if (classic.cdDisk == kMarker16) used.cdDisk = zip64.cdDisk;
      if (classic.totalEntries == kMarker16) used.totalEntries = zip64.totalEntries;
      if (classic.cdSize == kMarker32) used.cdSize = zip64.cdSize;
      if (classic.cdOffset == kMarker32) used.cdOffset = zip64.cdOffset;
      if (!Consistent(used, directoryEnd) && Consistent(zip64, directoryEnd)) used = zip64;
    }
    a_.volumes_[a_.currentVolume_].number = used.thisDisk;
    a_.cdStartDisk_ = used.cdDisk;
    if (used.cdDisk != used.thisDisk) {
      Reject();
      return false;
    }
    a_.totalEntries_ = static_cast<uint16_t>(std::min<uint64_t>(used.totalEntries, kMarker16));
    a_.cdSize_ = used.cdSize;
    a_.cdOffset_ = used.cdOffset;
    FindShiftedDirectory(directoryEnd);
    return true;
  }

  // The ZIP64 end record, found through its locator right before the end record at
  // recordOffset: at the offset the locator names or, in an archive moved within a larger
  // file, right before the locator. False when there is none or it does not hold
  // together (signature, length, and the record lying before its locator).
  bool ReadZip64End(uint64_t recordOffset, EndValues& values, uint64_t& offset) {
    if (recordOffset < kZip64LocatorSize + kZip64EndSize) return false;
    const uint64_t locator = recordOffset - kZip64LocatorSize;
    uint8_t l[kZip64LocatorSize];
    if (!ReadAt(locator, l, sizeof(l)) || Le32(l) != kSigZip64Locator) return false;
    for (uint64_t candidate : {Le64(l + 8), locator - kZip64EndSize}) {
      uint8_t r[kZip64EndSize];
      if (candidate > locator - kZip64EndSize || !ReadAt(candidate, r, sizeof(r))) continue;
      // The record's length counts what follows the length field: 44 bytes and any
      // extensible data, all of it before the locator.
      const uint64_t length = Le64(r + 4);
      if (Le32(r) != kSigZip64End || length < kZip64EndSize - 12 ||
          length > locator - candidate - 12) {
        continue;
      }
      values.thisDisk = Le32(r + 16);
      values.cdDisk = Le32(r + 20);
      values.totalEntries = Le64(r + 32);
      values.cdSize = Le64(r + 40);
      values.cdOffset = Le64(r + 48);
      offset = candidate;
      return true;
    }
    return false;
  }

  // Whether values describe a directory that can be read: one disk, no field still
  // marked, and (in an archive of one part) a directory that ends before directoryEnd
  // and begins with a central header, where the offset says or where its size puts it.
  bool Consistent(const EndValues& v, uint64_t directoryEnd) {
    if (v.thisDisk != v.cdDisk || v.thisDisk == kMarker16 || v.cdOffset == kMarker32 ||
        v.cdSize == kMarker32) {
      return false;
    }
    // The directory of a split archive may lie in another part: nothing to look at here.
    if (v.thisDisk != 0 || (!a_.onePart_ && a_.volumes_.size() != 1)) return true;
    if (v.cdSize > directoryEnd) return false;
    const uint32_t wanted = v.cdSize == 0 ? 0 : kSigCentralHeader;
    if (wanted == 0) return v.cdOffset <= directoryEnd;
    return (v.cdOffset <= directoryEnd - v.cdSize && SignatureAt(v.cdOffset) == wanted) ||
           SignatureAt(directoryEnd - v.cdSize) == wanted;
  }

  // Reads exactly size bytes at offset without an error record; the directory reading
  // goes on after them.
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t size) {
    uint32_t got = 0;
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    a_.position_ = offset;
    return a_.ReadSome(buffer, size, got) && got == size;
  }

  // An archive moved within a larger file (a self-extractor, or offsets adjusted to
  // count from the start of the program file) has offsets that miss the directory by the
  // shift. The directory ends where the end record begins, so its real start is the end
  // record's position minus its size; the difference applies to every local header.
  void FindShiftedDirectory(uint64_t directoryEnd) {
    if (!a_.onePart_ && a_.volumes_.size() != 1) return;
    // A ZIP64 end record can claim any 64-bit offset; past INT64_MAX no shift is sane.
    if (a_.cdSize_ > directoryEnd || a_.cdOffset_ > static_cast<uint64_t>(INT64_MAX)) return;
    uint64_t actual = directoryEnd - a_.cdSize_;
    if (actual == a_.cdOffset_) return;
    uint32_t wanted = a_.cdSize_ == 0 ? kSigEndRecord : kSigCentralHeader;
    if (SignatureAt(a_.cdOffset_) == wanted) return;
    if (SignatureAt(actual) != wanted) return;
    a_.offsetBias_ = static_cast<int64_t>(actual) - static_cast<int64_t>(a_.cdOffset_);
  }

  // The signature at offset; the reading goes on after it. 0 when it cannot be read.
  uint32_t SignatureAt(uint64_t offset) {
    uint8_t b[4];
    uint32_t got = 0;
    if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    a_.position_ = offset;
    return a_.ReadSome(b, 4, got) && got == 4 ? Le32(b) : 0;
  }

  bool ReadHeader(bool central, uint64_t signatureOffset) {
    auto entry = std::make_unique<Entry>();
    Entry& e = *entry;
    uint8_t b[42];
    const uint8_t* p = b;
    if (!a_.ReadExact(b, central ? 42 : 26)) return false;
    if (central) {
      e.versionMadeBy = Le16(p);
      p += 2;
    }
    e.versionNeeded = Le16(p);
    e.flags = Le16(p + 2);
    e.method = Le16(p + 4);
    e.modTime = Le16(p + 6);
    e.modDate = Le16(p + 8);
    e.crc32 = Le32(p + 10);
    e.compressedSize = Le32(p + 14);
    e.uncompressedSize = Le32(p + 18);
    e.nameLength = Le16(p + 22);
    e.extraLength = Le16(p + 24);
    if (central) {
      e.commentLength = Le16(p + 26);
      e.diskStart = Le16(p + 28);
      e.internalAttributes = Le16(p + 30);
      e.externalAttributes = Le32(p + 32);
      e.localHeaderOffset = Le32(p + 36);
    } else {
      e.localHeaderOffset = signatureOffset;
      e.fromLocalHeader = true;
    }
    e.rawName.assign(e.nameLength, '\0');
    if (e.nameLength > 0 && !a_.ReadExact(e.rawName.data(), e.nameLength)) return false;
    if (e.extraLength > a_.extraCapacity_ || !a_.extraBuffer_) {
      a_.extraBuffer_.reset(new uint8_t[std::max<uint16_t>(e.extraLength, 1)]);
      a_.extraCapacity_ = e.extraLength;
    }
    const uint8_t* extra = a_.extraBuffer_.get();
    if (e.extraLength > 0 && !a_.ReadExact(a_.extraBuffer_.get(), e.extraLength)) return false;
    e.name = DecodeEntryName(e.rawName, e.flags, extra, e.extraLength);
    // The key comes from the name as decoded, before "/" becomes "\": a leading "./"
    // is not the ".\" prefix that NormalizeEntryKey strips.
    std::u16string key = NormalizeEntryKey(e.name);
    std::replace(e.name.begin(), e.name.end(), u'/', u'\\');
    // Markers are honoured whatever versionNeeded says: some writers set 45 only for
    // the data descriptor's layout, others forget it.
    ApplyZip64(e, central, extra);
    if (central) {
      e.rawComment.assign(e.commentLength, '\0');
      if (e.commentLength > 0 && !a_.ReadExact(e.rawComment.data(), e.commentLength)) {
        return false;
      }
    } else if (!SkipLocalData(e)) {
      return false;
    }
    e.ordinal = static_cast<uint32_t>(a_.entries_.size());
    if (!key.empty() && key.size() <= Archive::kMaxKeyLength) {
      a_.index_.emplace(std::move(key), a_.entries_.size());  // the earlier entry keeps a key
    }
    a_.entries_.push_back(std::move(entry));
    return true;
  }

  void ApplyZip64(Entry& e, bool central, const uint8_t* extra) {
    bool wanted = e.uncompressedSize == kMarker32 || e.compressedSize == kMarker32 ||
                  (central && (e.localHeaderOffset == kMarker32 || e.diskStart == kMarker16));
    if (!wanted && e.versionNeeded < kVersionZip64) return;
    size_t pos = 0;
    while (pos + 4 <= e.extraLength) {
      uint16_t id = Le16(extra + pos);
      size_t size = Le16(extra + pos + 2);
      if (id == kExtraZip64) {
        if (pos + 4 + size > e.extraLength) return;
        const uint8_t* d = extra + pos + 4;
        const uint8_t* end = d + size;
        auto take64 = [&](uint64_t& field) {
          if (end - d < 8) return;
          field = Le64(d);
          d += 8;
        };
        if (central) {
          if (e.uncompressedSize == kMarker32) take64(e.uncompressedSize);
          if (e.compressedSize == kMarker32) take64(e.compressedSize);
          if (e.localHeaderOffset == kMarker32) take64(e.localHeaderOffset);
          if (e.diskStart == kMarker16 && end - d >= 4) e.diskStart = Le32(d);
        } else if (e.uncompressedSize == kMarker32 || e.compressedSize == kMarker32) {
          if (end - d >= 16) {
            e.uncompressedSize = Le64(d);
            e.compressedSize = Le64(d + 8);
          }
        }
        return;
      }
      pos += 4 + size;
    }
  }

  bool SkipLocalData(Entry& e) {
    uint64_t dataStart = a_.position_;
    bool streamed = (e.flags & kFlagDescriptor) && e.compressedSize == 0;
    if (streamed) return FindStreamedEnd(e, dataStart);
    if (!Skip(e.compressedSize)) return false;
    if (!(e.flags & kFlagDescriptor)) return true;
    uint32_t value;
    if (!ReadU32(value)) return false;
    if (value == kSigDataDescriptor && !ReadU32(value)) return false;
    e.crc32 = value;
    uint8_t b[8];
    if (!a_.ReadExact(b, 8)) return false;
    e.compressedSize = Le32(b);
    e.uncompressedSize = Le32(b + 4);
    return true;
  }

  // A streamed entry's local header has no sizes: the data ends where the deflate stream
  // ends, or (stored) where a data descriptor names the distance from the data's start.
  bool FindStreamedEnd(Entry& e, uint64_t dataStart) {
    uint64_t end = 0;
    if (e.method == kMethodDeflated) {
      if (!InflateToEnd(dataStart, e.compressedSize, e.uncompressedSize)) return false;
      end = dataStart + e.compressedSize;
    } else if (e.method == kMethodStored) {
      if (!ScanForDescriptor(dataStart, end)) return false;
      e.compressedSize = e.uncompressedSize = end - dataStart;
    } else {
      a_.SetError(FDIERROR_BAD_COMPR_TYPE, e.name);
      return false;
    }
    // The descriptor: optional signature, CRC-32, then 32-bit or (ZIP64) 64-bit sizes.
    uint8_t b[24] = {};
    uint32_t got = 0;
    if (!a_.SeekTo(end) || !a_.ReadSome(b, sizeof(b), got)) return false;
    uint32_t at = Le32(b) == kSigDataDescriptor ? 4 : 0;
    e.crc32 = Le32(b + at);
    bool wide = Le32(b + at + 4) != static_cast<uint32_t>(e.compressedSize) &&
                Le64(b + at + 4) == e.compressedSize;
    return a_.SeekTo(end + at + (wide ? 20 : 12));
  }

  // Inflates a streamed entry to the end of its deflate stream, through the same entry
  // stream that serves entries, to learn its compressed and uncompressed sizes.
  bool InflateToEnd(uint64_t dataStart, uint64_t& consumed, uint64_t& produced) {
    EntryLocation where;
    where.source = a_.reader_;
    where.offset = dataStart;
    where.compressedSize = dataStart < VolumeSize() ? VolumeSize() - dataStart : 0;
    where.size = EntryStream::kSizeUnknown;
    where.method = 8;
    EntryStream stream(std::move(where), {});
    produced = 0;
    for (uint32_t got = 0; stream.Read(a_.outBuffer_.get(), Archive::kOutBufferSize, got) && got;) {
      produced += got;
    }
    consumed = stream.CompressedUsed();
    if (stream.Failed() || !stream.Ended()) {
      a_.SetError(ERROR_FLATE, 0, VolumeName());
      return false;
    }
    return true;
  }

  bool ScanForDescriptor(uint64_t dataStart, uint64_t& end) {
    uint8_t* buffer = a_.inBuffer_.get();
    uint64_t blockStart = dataStart;
    for (;;) {
      uint32_t got = 0;
      if (!a_.SeekTo(blockStart)) return false;
      if (!a_.ReadSome(buffer, Archive::kInBufferSize, got) || got < 16) break;
      for (uint32_t i = 0; i + 16 <= got; ++i) {
        if (Le32(buffer + i) != kSigDataDescriptor) continue;
        uint64_t distance = blockStart + i - dataStart;
        if (Le32(buffer + i + 8) == static_cast<uint32_t>(distance) ||
            (i + 20 <= got && Le64(buffer + i + 8) == distance)) {
          end = blockStart + i;
          return true;
        }
      }
      // Blocks overlap by 16 bytes so a descriptor across their border is seen whole.
      blockStart += got - 15;
    }
    a_.SetError(ERROR_READ_FILE, VolumeName());
    return false;
  }

  Archive& a_;
};

void Archive::LoadDirectory() {
  if (!reader_ || currentVolume_ < 0) {
    SetError(AZERR_INVALIDSTATE, name_);
    return;
  }
  DirectoryReader(*this).Run();
  ++generation_;
}

}  // namespace amzip
