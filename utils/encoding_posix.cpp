// Code page conversions without Windows: UTF-8 and CP437 by our own tables, the rest by
// iconv under the Windows code page number.
#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "utils/cp437.h"
#include "utils/encoding.h"
#include "utils/utf8.h"

namespace utils {
namespace {

// iconv's name for a Windows code page number. glibc knows "CP1252", "CP932" and so on;
// the ISO and a few other Windows numbers have names of their own.
std::string IconvName(unsigned codePage) {
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  switch (codePage) {
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 51932:
      return "EUC-JP";
    case 54936:
      return "GB18030";
    case 65000:
      return "UTF-7";
    default:
      return "CP" + std::to_string(codePage);
  }
}

bool IsUtf8(unsigned codePage) { return codePage == kCodePageAnsi || codePage == kCodePageUtf8; }
bool IsCp437(unsigned codePage) { return codePage == kCodePageOem || codePage == 437; }

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(handle_);
  }
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  // Converts in to out. On a byte sequence that does not convert, appends substitute and
  // skips skip bytes of the input; a truncated sequence at the end is treated the same.
  void Run(const char* in, size_t inLeft, std::string& out, const std::string& substitute,
           size_t skip) {
    char buffer[4096];
    char* src = const_cast<char*>(in);
    while (inLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t r = iconv(handle_, &src, &inLeft, &dst, &dstLeft);
      out.append(buffer, dst - buffer);
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      out += substitute;
      size_t n = skip < inLeft ? skip : inLeft;
      src += n;
      inLeft -= n;
    }
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    iconv(handle_, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, dst - buffer);
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::u16string BytesToWide(const std::string& bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  if (IsUtf8(codePage)) return DecodeUtf8(bytes.data(), bytes.size());
  if (IsCp437(codePage)) return Cp437ToWide(bytes);
  Iconv cv("UTF-16LE", IconvName(codePage));
  if (!cv.ok()) return {};
  std::string units;
  cv.Run(bytes.data(), bytes.size(), units, std::string("\xFD\xFF", 2), 1);
  std::u16string out(units.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<uint8_t>(units[2 * i]) |
                                   (static_cast<uint8_t>(units[2 * i + 1]) << 8));
  }
  return out;
}

std::string WideToBytes(const std::u16string& text, unsigned codePage) {
  if (text.empty()) return {};
  if (IsUtf8(codePage)) return EncodeUtf8(text.data(), text.size());
  if (IsCp437(codePage)) return WideToCp437(text);
  Iconv cv(IconvName(codePage), "UTF-16LE");
  if (!cv.ok()) return {};
  std::string units(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    units[2 * i] = static_cast<char>(text[i] & 0xFF);
    units[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  std::string out;
  cv.Run(units.data(), units.size(), out, "?", 2);
  return out;
}

}  // namespace utils
