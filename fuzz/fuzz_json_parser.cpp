// Feeds arbitrary bytes to the JSON parser, both as a stream (byte-order marks, UTF-8 and
// UTF-16) and as raw UTF-16 text. Whatever parses is written in every layout and read
// back: the second reading must succeed and give the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "json/parser.h"
#include "json/value.h"
#include "utils/exception.h"
#include "utils/file/streams.h"

namespace {

void CheckRewrite(const json::Value& root) {
  for (int style = 0; style <= 2; ++style) {
    std::u16string first;
    json::WriteFormat format(style);
    root.Write(first, format);
    json::ParseError error;
    std::unique_ptr<json::Value> back(json::Parse(first, error));
    if (!back || error.code != json::kNoError) std::abort();
    std::u16string second;
    json::WriteFormat again(style);
    back->Write(second, again);
    // Member order follows the hash map, which may differ between the two trees; the
    // lengths must agree all the same.
    if (second.size() != first.size()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  json::ParseError error;
  try {
    utils::SharedPtr<utils::ReadStreamI> stream(new utils::MemoryStreamReader(bytes, u"fuzz"));
    std::unique_ptr<json::Value> root(json::ParseStream(stream, error));
    if (root && error.code == json::kNoError) CheckRewrite(*root);
  } catch (const utils::Exception&) {
    // An encoding the reader does not support: reported, not a fault.
  }
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
  std::unique_ptr<json::Value> root(json::Parse(text, error));
  if (error.position > text.size()) std::abort();
  if (root && error.code == json::kNoError) CheckRewrite(*root);
  return 0;
}
