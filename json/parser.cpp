#include "json/parser.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace json {
namespace {

// White space as the wide-character classification of the Windows C runtime sees it:
// the ASCII controls and blank, and Unicode's space separators.
bool IsSpace(char16_t c) {
  if (c == u' ' || (c >= 9 && c <= 13)) return true;
  if (c < 0x85) return false;
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(const std::u16string& text, ParseError& error) : text_(text), error_(error) {}

  Value* ParseDocument() {
    SkipSpace();
    Value* root = nullptr;
    if (AtEnd()) {
      Fail(kEmptyText);
    } else if (Peek() == u'{') {
      root = ParseObject();
    } else if (Peek() == u'[') {
      root = ParseArray();
    } else {
      Fail(kNotAContainer);
    }
    SkipSpace();
    if (!AtEnd() && error_.code == kNoError) Fail(kTrailingCharacters);
    error_.position = static_cast<uint32_t>(pos_);
    return root;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char16_t Peek() const { return text_[pos_]; }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(Peek())) ++pos_;
  }
  void Fail(uint32_t code) {
    if (error_.code == kNoError) error_.code = code;
  }
  bool LooksAt(const char16_t* word) const {
    return text_.compare(pos_, std::char_traits<char16_t>::length(word), word) == 0;
  }

  // Any value inside a container; null (without an error of its own) when none starts
  // here.
  Value* ParseValue() {
    SkipSpace();
    if (AtEnd()) return nullptr;
    char16_t c = Peek();
    if (c == u'{') return ParseObject();
    if (c == u'[') return ParseArray();
    if (c == u'-' || IsDigit(c)) return ParseNumber();
    if (c == u'"' || c == u'\'') return ParseString();
    if (LooksAt(u"null")) {
      pos_ += 4;
      return new Null();
    }
    if (LooksAt(u"true")) {
      pos_ += 4;
      return new Bool(true);
    }
    if (LooksAt(u"false")) {
      pos_ += 5;
      return new Bool(false);
    }
    return nullptr;
  }

  // Enters a container; false (code 11) at the depth limit.
  bool Enter() {
    if (++depth_ >= kMaxDepth) {
      Fail(kTooDeep);
      --depth_;
      return false;
    }
    return true;
  }

  Value* ParseObject() {
    if (!Enter()) return nullptr;
    auto object = std::make_unique<Dict>();
    ++pos_;
    SkipSpace();
    if (AtEnd()) {
      Fail(kBadObject);
      --depth_;
      return nullptr;
    }
    while (!AtEnd() && (Peek() == u'"' || Peek() == u'\'')) {
      std::unique_ptr<String> key(ParseString());
      if (!key) break;
      SkipSpace();
      if (AtEnd() || Peek() != u':') {
        Fail(kBadObject);
        break;
      }
      ++pos_;
      SkipSpace();
      std::unique_ptr<Value> value(ParseValue());
      if (!value) {
        Fail(kBadObject);
        break;
      }
      if (object->Insert(*key, value.get()))
        value.release();
      else
        Fail(kDuplicateKey);
      SkipSpace();
      if (AtEnd()) {
        Fail(kBadObject);
        break;
      }
      if (Peek() != u',') break;
      ++pos_;
      SkipSpace();
    }
    --depth_;
    if (!AtEnd() && Peek() == u'}') {
      ++pos_;
      SkipSpace();
      return object.release();
    }
    Fail(kBadObject);
    return nullptr;
  }

  Value* ParseArray() {
    if (!Enter()) return nullptr;
    auto array = std::make_unique<Array>();
    ++pos_;
    SkipSpace();
    if (AtEnd()) {
      Fail(kBadArray);
      --depth_;
      return nullptr;
    }
    Value* value = ParseValue();
    while (value) {
      array->Append(value);
      SkipSpace();
      if (AtEnd()) {
        Fail(kBadArray);
        break;
      }
      if (Peek() != u',') break;
      ++pos_;
      value = ParseValue();
      if (!value) Fail(kBadArray);
    }
    --depth_;
    if (!AtEnd() && Peek() == u']') {
      ++pos_;
      SkipSpace();
      return array.release();
    }
    Fail(kBadArray);
    return nullptr;
  }

  Value* ParseNumber() {
    size_t start = pos_;
    bool isFloat = false;
    if (Peek() == u'-') {
      ++pos_;
      if (AtEnd()) return BadNumber();
    }
    if (AtEnd() || !IsDigit(Peek())) return BadNumber();
    while (!AtEnd() && IsDigit(Peek())) ++pos_;
    if (!AtEnd() && Peek() == u'.') {
      isFloat = true;
      ++pos_;
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (!AtEnd() && (Peek() == u'e' || Peek() == u'E')) {
      isFloat = true;
      ++pos_;
      if (AtEnd()) return BadNumber();
      if (Peek() == u'+' || Peek() == u'-') {
        ++pos_;
        if (AtEnd()) return BadNumber();
      }
      if (!IsDigit(Peek())) return BadNumber();
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    std::string digits(text_.begin() + start, text_.begin() + pos_);
    if (!isFloat) {
      int64_t integer = 0;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), integer);
      if (ec == std::errc() && end == digits.data() + digits.size()) return new Number(integer);
      // Beyond 64 bits: keep the magnitude as a double rather than a clipped integer.
    }
    char* end = nullptr;
    double real = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) return BadNumber();
    return new Number(real);
  }

  Value* BadNumber() {
    Fail(kBadNumber);
    return nullptr;
  }

  // A string between matching quotes; the text ending first gives what was read.
  String* ParseString() {
    char16_t quote = Peek();
    ++pos_;
    if (AtEnd()) {
      Fail(kBadString);
      return nullptr;
    }
    auto text = std::make_unique<String>();
    while (!AtEnd()) {
      char16_t c = text_[pos_++];
      if (c == quote) return text.release();
      if (c != u'\\') {
        *text += c;
        continue;
      }
      if (AtEnd()) break;
      char16_t e = text_[pos_++];
      switch (e) {
        case u'b':
          *text += u'\b';
          break;
        case u't':
          *text += u'\t';
          break;
        case u'n':
          *text += u'\n';
          break;
        case u'f':
          *text += u'\f';
          break;
        case u'r':
          *text += u'\r';
          break;
        case u'"':
        case u'/':
        case u'\\':
          *text += e;
          break;
        case u'u': {
          unsigned unit = 0;
          for (int i = 0; i < 4; ++i) {
            if (AtEnd()) {
              Fail(kBadString);
              return nullptr;
            }
            int h = HexValue(text_[pos_]);
            if (h < 0) {
              Fail(kBadString);
              return nullptr;
            }
            unit = unit * 16 + static_cast<unsigned>(h);
            ++pos_;
          }
          *text += static_cast<char16_t>(unit);
          break;
        }
        default:
          Fail(kBadEscape);
          return nullptr;
      }
    }
    return text.release();
  }

  const std::u16string& text_;
  ParseError& error_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

Value* Parse(const std::u16string& text, ParseError& error) {
  error = ParseError();
  return Parser(text, error).ParseDocument();
}

}  // namespace json
