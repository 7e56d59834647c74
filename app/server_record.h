// Records of running servers: one per server, named by the content's identity
// (ContentId in decimal) and holding the serving process's identifier and the content's
// base URL.
//
// Windows keeps them as REG_MULTI_SZ values of the DeployedServers key; POSIX as one
// small file per server. Both are judged by the same rules, which live here as pure
// functions over the value's name, type and bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace app {

inline constexpr uint32_t kRegMultiSz = 7;
// The reader's buffers: names of up to 255 characters (plus the terminator), data of
// fewer than 2048 bytes (it appends a terminating unit itself).
inline constexpr size_t kMaxRecordNameChars = 255;
inline constexpr size_t kMaxRecordDataBytes = 2047;

// Unsigned decimal text without leading zeros.
std::u16string DecimalText(uint32_t value);

// The value's name for a content.
inline std::u16string RecordName(uint32_t contentId) { return DecimalText(contentId); }

// The value's data: UTF-16LE "<processId>\0<url>\0\0", as bytes.
std::string EncodeRecordData(uint32_t processId, const std::u16string& url);

// Reads an unsigned decimal number the way wcstoul reads base 10 with a 32-bit long:
// white space skipped, optional sign (a '-' negates modulo 2^32), digits up to the
// first other character, overflow gives 4294967295. Returns false when no digit was
// read or the number is 0 or 4294967295 (neither names a content or a process).
bool ReadRecordNumber(const std::u16string& text, uint32_t& value);

struct ServerRecord {
  uint32_t contentId = 0;
  uint32_t processId = 0;
  std::u16string url;
};

// Parses one value. False for anything the reader passes over: a type other than
// REG_MULTI_SZ, a name of 0 or more than 10 characters (or one that overflows the
// name buffer), empty data or data that does not fit the buffer, a name or first
// string that is no usable number, a missing or empty second string.
bool ParseServerRecord(const std::u16string& name, uint32_t type, const std::string& data,
                       ServerRecord& record);

enum class RecordAction {
  Skip,         // not a record: leave it alone
  DeleteStale,  // its process is gone: delete it
  KeepOther,    // a live server of another content
  Found,        // a live server of this content; url holds its URL
};

// The walk's decision for one value. processRuns answers whether the recorded process
// can still be queried.
RecordAction ExamineServerRecord(const std::u16string& name, uint32_t type, const std::string& data,
                                 uint32_t contentId,
                                 const std::function<bool(uint32_t)>& processRuns,
                                 std::u16string& url);

}  // namespace app
