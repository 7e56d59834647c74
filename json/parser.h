// The JSON parser: recursive descent over wide text, building a tree of json::Value.
//
// The root of a document is an object or an array. The parser is lenient where the
// format's writers often are: strings and keys may be in single quotes, and an object may
// end with ',' before '}'. It never throws for bad input: the first failure is recorded
// in ParseError (later ones never overwrite it), and whatever root was built is returned.
// Nesting is limited to 99 levels of containers.
#pragma once

#include <cstdint>
#include <string>

#include "json/value.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace json {

enum ErrorCode : uint32_t {
  kNoError = 0,
  kEmptyText = 1,
  kStreamReadFailed = 2,
  kNotAContainer = 3,
  kTrailingCharacters = 4,
  kBadNumber = 5,
  kBadString = 6,
  kBadEscape = 7,
  kBadArray = 8,
  kBadObject = 9,
  kDuplicateKey = 10,
  kTooDeep = 11,
};

inline constexpr int kMaxDepth = 100;  // the depth at which nesting fails

struct ParseError {
  uint32_t code = kNoError;
  uint32_t position = 0;  // in UTF-16 units: where parsing stopped
};

// The root (owned by the caller), or null; error is filled either way.
Value* Parse(const std::u16string& text, ParseError& error);

// Reads the whole stream, converts it to text by its byte-order mark (UTF-8 without one)
// and parses it. A failed read gives code 2. An unsupported encoding throws the
// utils::Exception of binary_to_text.
Value* ParseStream(const utils::SharedPtr<utils::ReadStreamI>& stream, ParseError& error);

}  // namespace json
