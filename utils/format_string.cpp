#include "utils/format_string.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "utils/encoding.h"

namespace utils {
namespace {

enum class Length { None, Char, Short, Long, LongLong, LongDouble, IntMax, Size, PtrDiff };

struct Spec {
  bool left = false, plus = false, blank = false, alt = false, zero = false;
  int width = 0;
  int precision = -1;
  Length length = Length::None;
  char16_t conversion = 0;
};

// Output with a unit limit: once more than limit units are asked for, the rest is dropped
// and the result is marked as overflowed.
class Sink {
 public:
  explicit Sink(size_t limit) : limit_(limit) {}
  void Put(char16_t c) {
    if (out_.size() >= limit_) {
      overflow_ = true;
      return;
    }
    out_.push_back(c);
  }
  void Repeat(char16_t c, int n) {
    for (int i = 0; i < n && !overflow_; ++i) Put(c);
  }
  bool overflow() const { return overflow_; }
  std::u16string& text() { return out_; }

 private:
  std::u16string out_;
  size_t limit_;
  bool overflow_ = false;
};

// Pads body (with its prefix such as "-" or "0x") to the field width.
void Emit(Sink& sink, const Spec& spec, const std::u16string& prefix, const std::u16string& body,
          bool zeroPadAllowed) {
  int len = static_cast<int>(prefix.size() + body.size());
  int pad = spec.width > len ? spec.width - len : 0;
  bool zeros = spec.zero && !spec.left && zeroPadAllowed;
  if (!spec.left && !zeros) sink.Repeat(u' ', pad);
  for (char16_t c : prefix) sink.Put(c);
  if (zeros) sink.Repeat(u'0', pad);
  for (char16_t c : body) sink.Put(c);
  if (spec.left) sink.Repeat(u' ', pad);
}

void EmitInteger(Sink& sink, const Spec& spec, uint64_t magnitude, bool negative) {
  unsigned base = 10;
  const char* digits = "0123456789abcdef";
  switch (spec.conversion) {
    case u'o':
      base = 8;
      break;
    case u'x':
      base = 16;
      break;
    case u'X':
      base = 16;
      digits = "0123456789ABCDEF";
      break;
    default:
      break;
  }
  std::u16string body;
  for (uint64_t v = magnitude; v; v /= base) body.insert(body.begin(), digits[v % base]);
  // Precision is the minimum number of digits; precision 0 prints nothing for 0.
  size_t minDigits = spec.precision < 0 ? 1 : static_cast<size_t>(spec.precision);
  if (body.size() < minDigits) body.insert(0, minDigits - body.size(), u'0');
  std::u16string prefix;
  bool isSigned = spec.conversion == u'd' || spec.conversion == u'i';
  if (negative) {
    prefix = u"-";
  } else if (isSigned && spec.plus) {
    prefix = u"+";
  } else if (isSigned && spec.blank) {
    prefix = u" ";
  }
  if (spec.alt && magnitude != 0 && base == 16) prefix += spec.conversion == u'X' ? u"0X" : u"0x";
  if (spec.alt && base == 8 && (body.empty() || body[0] != u'0')) body.insert(0, 1, u'0');
  Emit(sink, spec, prefix, body, spec.precision < 0);
}

template <class Char>
void EmitString(Sink& sink, const Spec& spec, const Char* s) {
  static constexpr char16_t kNull[] = u"(null)";
  std::u16string body;
  if (!s) {
    body = kNull;
  } else {
    for (size_t i = 0; s[i] && (spec.precision < 0 || i < static_cast<size_t>(spec.precision));
         ++i) {
      body.push_back(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(s[i])));
    }
  }
  if (!s && spec.precision >= 0 && body.size() > static_cast<size_t>(spec.precision)) {
    body.resize(static_cast<size_t>(spec.precision));
  }
  Emit(sink, spec, u"", body, false);
}

// Floating point through the C library: rebuild a narrow conversion spec with the
// resolved width and precision.
void EmitFloat(Sink& sink, const Spec& spec, long double value, bool isLong) {
  std::string f = "%";
  if (spec.left) f += '-';
  if (spec.plus) f += '+';
  if (spec.blank) f += ' ';
  if (spec.alt) f += '#';
  if (spec.zero) f += '0';
  if (spec.width) f += std::to_string(spec.width);
  if (spec.precision >= 0) f += "." + std::to_string(spec.precision);
  f += static_cast<char>(spec.conversion);
  double d = static_cast<double>(value);
  int n = std::snprintf(nullptr, 0, f.c_str(), d);
  if (n < 0) return;
  std::vector<char> text(static_cast<size_t>(n) + 1);
  std::snprintf(text.data(), text.size(), f.c_str(), d);
  for (int i = 0; i < n; ++i) sink.Put(static_cast<unsigned char>(text[i]));
}

int64_t SignedArg(va_list* ap, Length length) {
  switch (length) {
    case Length::Char:
      return static_cast<signed char>(va_arg(*ap, int));
    case Length::Short:
      return static_cast<short>(va_arg(*ap, int));
    case Length::Long:
      return va_arg(*ap, long);
    case Length::LongLong:
      return va_arg(*ap, long long);
    case Length::IntMax:
      return va_arg(*ap, intmax_t);
    case Length::Size:
    case Length::PtrDiff:
      return va_arg(*ap, ptrdiff_t);
    default:
      return va_arg(*ap, int);
  }
}

uint64_t UnsignedArg(va_list* ap, Length length) {
  switch (length) {
    case Length::Char:
      return static_cast<unsigned char>(va_arg(*ap, unsigned));
    case Length::Short:
      return static_cast<unsigned short>(va_arg(*ap, unsigned));
    case Length::Long:
      return va_arg(*ap, unsigned long);
    case Length::LongLong:
      return va_arg(*ap, unsigned long long);
    case Length::IntMax:
      return va_arg(*ap, uintmax_t);
    case Length::Size:
    case Length::PtrDiff:
      return va_arg(*ap, size_t);
    default:
      return va_arg(*ap, unsigned);
  }
}

// Reads one conversion spec after the '%'; p points past it on return. False for a spec
// that ends the format early.
bool ParseSpec(const char16_t*& p, va_list* ap, Spec& spec) {
  for (;; ++p) {
    if (*p == u'-')
      spec.left = true;
    else if (*p == u'+')
      spec.plus = true;
    else if (*p == u' ')
      spec.blank = true;
    else if (*p == u'#')
      spec.alt = true;
    else if (*p == u'0')
      spec.zero = true;
    else
      break;
  }
  if (*p == u'*') {
    int w = va_arg(*ap, int);
    if (w < 0) {
      spec.left = true;
      w = w == INT32_MIN ? INT32_MAX : -w;
    }
    spec.width = w;
    ++p;
  } else {
    while (*p >= u'0' && *p <= u'9') {
      if (spec.width < 100000000) spec.width = spec.width * 10 + (*p - u'0');
      ++p;
    }
  }
  if (*p == u'.') {
    ++p;
    spec.precision = 0;
    if (*p == u'*') {
      int prec = va_arg(*ap, int);
      spec.precision = prec < 0 ? -1 : prec;
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') {
        if (spec.precision < 100000000) spec.precision = spec.precision * 10 + (*p - u'0');
        ++p;
      }
    }
  }
  switch (*p) {
    case u'h':
      ++p;
      spec.length = Length::Short;
      if (*p == u'h') spec.length = Length::Char, ++p;
      break;
    case u'l':
      ++p;
      spec.length = Length::Long;
      if (*p == u'l') spec.length = Length::LongLong, ++p;
      break;
    case u'L':
      spec.length = Length::LongDouble, ++p;
      break;
    case u'j':
      spec.length = Length::IntMax, ++p;
      break;
    case u'z':
      spec.length = Length::Size, ++p;
      break;
    case u't':
      spec.length = Length::PtrDiff, ++p;
      break;
    case u'w':
      spec.length = Length::Long, ++p;
      break;
    case u'I':
      ++p;
      if (p[0] == u'6' && p[1] == u'4') {
        spec.length = Length::LongLong, p += 2;
      } else if (p[0] == u'3' && p[1] == u'2') {
        spec.length = Length::None, p += 2;
      } else {
        spec.length = Length::Size;
      }
      break;
    default:
      break;
  }
  if (!*p) return false;
  spec.conversion = *p++;
  return true;
}

// Formats the whole text into sink; stops early once the sink overflowed.
void FormatCore(Sink& sink, const char16_t* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  const char16_t* p = format;
  while (*p && !sink.overflow()) {
    if (*p != u'%') {
      sink.Put(*p++);
      continue;
    }
    const char16_t* start = p++;
    Spec spec;
    if (!ParseSpec(p, &ap, spec)) {
      for (const char16_t* q = start; q < p; ++q) sink.Put(*q);
      break;
    }
    switch (spec.conversion) {
      case u'%':
        sink.Put(u'%');
        break;
      case u'd':
      case u'i': {
        int64_t v = SignedArg(&ap, spec.length);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        EmitInteger(sink, spec, magnitude, v < 0);
        break;
      }
      case u'u':
      case u'o':
      case u'x':
      case u'X':
        EmitInteger(sink, spec, UnsignedArg(&ap, spec.length), false);
        break;
      case u'p': {
        Spec ptr = spec;
        ptr.conversion = u'X';
        ptr.precision = static_cast<int>(sizeof(void*) * 2);
        ptr.alt = false;
        EmitInteger(sink, ptr, reinterpret_cast<uintptr_t>(va_arg(ap, void*)), false);
        break;
      }
      case u'c':
      case u'C': {
        int unit = va_arg(ap, int);
        bool narrow = spec.conversion == u'C' || spec.length == Length::Short;
        char16_t c = narrow ? static_cast<unsigned char>(unit) : static_cast<char16_t>(unit);
        Emit(sink, spec, u"", std::u16string(1, c), false);
        break;
      }
      case u's':
      case u'S':
        if (spec.conversion == u'S' || spec.length == Length::Short) {
          EmitString(sink, spec, va_arg(ap, const char*));
        } else {
          EmitString(sink, spec, va_arg(ap, const char16_t*));
        }
        break;
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
      case u'a':
      case u'A':
        if (spec.length == Length::LongDouble) {
          EmitFloat(sink, spec, va_arg(ap, long double), true);
        } else {
          EmitFloat(sink, spec, va_arg(ap, double), false);
        }
        break;
      default:
        // "%n" and unknown conversions: copied as written, no argument consumed.
        for (const char16_t* q = start; q < p; ++q) sink.Put(*q);
        break;
    }
  }
  va_end(ap);
}

}  // namespace

int FormatInto(char16_t* buffer, size_t size, const char16_t* format, va_list args) {
  if (size == 0 || !buffer) return -1;
  Sink sink(size - 1);
  if (format) FormatCore(sink, format, args);
  std::u16string& text = sink.text();
  std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
  buffer[text.size()] = u'\0';
  return sink.overflow() ? -1 : static_cast<int>(text.size());
}

std::u16string FormatStringV(const char16_t* format, va_list args, int* attempts) {
  if (attempts) *attempts = 0;
  if (!format) return {};
  std::u16string text;
  bool done = false;
  size_t size = 256;
  for (int attempt = 0; attempt <= 12 && !done; ++attempt, size *= 2) {
    if (attempts) *attempts = attempt + 1;
    std::vector<char16_t> buffer(size, u'\0');
    va_list copy;
    va_copy(copy, args);
    int n = FormatInto(buffer.data(), size, format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) != size - 1) {
      text.assign(buffer.data(), static_cast<size_t>(n));
      done = true;
    }
  }
  if (!done) {
    // Larger than the last buffer: format once more without a limit.
    if (attempts) *attempts = 14;
    Sink sink(static_cast<size_t>(-1));
    FormatCore(sink, format, args);
    text = std::move(sink.text());
  }
  if (text.empty()) return u"(null)";
  return text;
}

std::u16string FormatString(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string text = FormatStringV(format, args);
  va_end(args);
  return text;
}

}  // namespace utils
