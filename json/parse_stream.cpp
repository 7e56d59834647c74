#include <string>

#include "json/parser.h"
#include "utils/encoding.h"

namespace json {
namespace {

constexpr uint32_t kBlockSize = 131072;

// The whole stream as bytes; false when a read fails.
bool ReadAll(utils::ReadStreamI& stream, std::string& bytes) {
  stream.SetCacheFlags(0);
  if (stream.CheckCacheFlags(1)) {
    // The stream knows its size: one read of exactly that many bytes.
    uint64_t size = stream.GetSize();
    if (size >= (uint64_t{1} << 32)) return false;
    bytes.resize(static_cast<size_t>(size));
    if (size == 0) return true;
    return stream.Read(bytes.data(), static_cast<uint32_t>(size)) == size;
  }
  std::string block(kBlockSize, '\0');
  for (;;) {
    uint32_t got = 0;
    if (!stream.Read(block.data(), kBlockSize, got)) return false;
    if (got == 0) return true;
    bytes.append(block.data(), got);
  }
}

}  // namespace

Value* ParseStream(const utils::SharedPtr<utils::ReadStreamI>& stream, ParseError& error) {
  error = ParseError();
  std::string bytes;
  if (!stream || !ReadAll(*stream, bytes)) {
    error.code = kStreamReadFailed;
    error.position = 0;
    return nullptr;
  }
  std::u16string text;
  utils::binary_to_text(bytes, text);
  return Parse(text, error);
}

}  // namespace json
