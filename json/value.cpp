#include "json/value.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace json {
namespace {

void AppendAscii(std::u16string& out, const char* text) {
  for (; *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
}

// Elements of a container, each preceded by its indentation and followed by ',' and a
// newline as the style asks. WriteItem(out, format, item) writes one element.
template <class Range, class WriteItem>
void WriteContainer(std::u16string& out, WriteFormat& format, char16_t open, char16_t close,
                    const Range& items, WriteItem writeItem) {
  out += open;
  if (!items.empty()) {
    bool layout = format.style == 0 || format.style == 1;
    if (layout) {
      out += format.newline;
      ++format.level;
    }
    size_t left = items.size();
    for (const auto& item : items) {
      if (layout) format.Indent(out);
      writeItem(item);
      if (--left) out += u',';
      if (layout) out += format.newline;
    }
    if (layout) {
      --format.level;
      format.Indent(out);
    }
  }
  out += close;
}

}  // namespace

WriteFormat::WriteFormat(int style) : style(style) {
  switch (style) {
    case 0:
      indentUnit = 2;
      newline = u"\r\n";
      break;
    case 1:
      indentUnit = 1;
      newline = u"\n";
      break;
    default:
      indentUnit = 0;
      break;
  }
}

void WriteFormat::Indent(std::u16string& out) const {
  if (level <= 0) return;
  if (useTabs)
    out.append(static_cast<size_t>(level), u'\t');
  else
    out.append(static_cast<size_t>(level) * indentUnit, u' ');
}

void Null::Write(std::u16string& out, WriteFormat&) const { out += u"null"; }

void Bool::Write(std::u16string& out, WriteFormat&) const { out += value ? u"true" : u"false"; }

void Number::Write(std::u16string& out, WriteFormat&) const {
  if (!isFloat) {
    // Digits from the unsigned magnitude, so the most negative value needs no special case.
    uint64_t magnitude = integer < 0 ? 0 - static_cast<uint64_t>(integer) : integer;
    char16_t digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (integer < 0) out += u'-';
    while (n) out += digits[--n];
    return;
  }
  if (!std::isfinite(real)) {
    out += u"null";
    return;
  }
  // Fixed notation runs past 300 digits for large magnitudes: size the text first.
  int n = std::snprintf(nullptr, 0, "%lf", real);
  std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%lf", real);
  AppendAscii(out, text.c_str());
}

void String::WriteQuoted(std::u16string& out, const std::u16string& text) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  out += u'"';
  for (char16_t u : text) {
    switch (u) {
      case 8:
        out += u"\\b";
        break;
      case 9:
        out += u"\\t";
        break;
      case 10:
        out += u"\\n";
        break;
      case 12:
        out += u"\\f";
        break;
      case 13:
        out += u"\\r";
        break;
      case u'"':
        out += u"\\\"";
        break;
      case u'\\':
        out += u"\\\\";
        break;
      default:
        if (u < 32) {
          out += u"\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 15];
        } else {
          out += u;
        }
    }
  }
  out += u'"';
}

void String::Write(std::u16string& out, WriteFormat&) const { WriteQuoted(out, *this); }

Array::~Array() {
  for (Value* v : *this) delete v;
}

void Array::Append(Value* value) { push_back(value); }

void Array::Write(std::u16string& out, WriteFormat& format) const {
  WriteContainer(out, format, u'[', u']', *this, [&](const Value* v) { v->Write(out, format); });
}

Dict::~Dict() {
  for (auto& member : *this) delete member.second;
}

bool Dict::Insert(const std::u16string& key, Value* value) { return emplace(key, value).second; }

void Dict::Set(const std::u16string& key, Value* value) {
  auto [it, inserted] = emplace(key, value);
  if (!inserted) {
    if (it->second != value) delete it->second;
    it->second = value;
  }
}

Value* Dict::Find(const std::u16string& key) const {
  auto it = find(key);
  return it == end() ? nullptr : it->second;
}

void Dict::Write(std::u16string& out, WriteFormat& format) const {
  WriteContainer(out, format, u'{', u'}', *this, [&](const value_type& member) {
    String::WriteQuoted(out, member.first);
    out += format.style == 0 ? u" : " : u":";
    member.second->Write(out, format);
  });
}

}  // namespace json
