// The scanners of the link check: a tolerant HTML tokenizer, and the style-sheet and
// module lexers, each reduced to what finds references.
#include <algorithm>
#include <cstring>

#include "tools/pack/link_check.h"

namespace pack {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsIdent(char c) {
  return IsAlpha(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || (c & 0x80);
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
std::string LowerText(std::string s) {
  for (char& c : s) c = Lower(c);
  return s;
}

// Where text[at..] starts with word, ignoring ASCII case.
bool StartsWithNoCase(const std::string& text, size_t at, const char* word) {
  size_t n = std::strlen(word);
  if (at + n > text.size()) return false;
  for (size_t i = 0; i < n; ++i)
    if (Lower(text[at + i]) != word[i]) return false;
  return true;
}

size_t FindNoCase(const std::string& text, size_t from, const char* word) {
  for (size_t i = from; i < text.size(); ++i)
    if (StartsWithNoCase(text, i, word)) return i;
  return std::string::npos;
}

// Line numbers of offsets, counted forward as the scanners move on.
class Lines {
 public:
  Lines(const std::string& text, size_t firstLine) : text_(text), line_(firstLine) {}
  size_t At(size_t offset) {
    if (offset < pos_) pos_ = 0, line_ = base_;  // never needed going forward
    for (; pos_ < offset && pos_ < text_.size(); ++pos_)
      if (text_[pos_] == '\n') ++line_;
    return line_;
  }
  void Rebase(size_t firstLine) { base_ = line_ = firstLine; }

 private:
  const std::string& text_;
  size_t pos_ = 0, line_, base_ = line_;
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6), out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | cp >> 12), out += char(0x80 | (cp >> 6 & 0x3F)),
        out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | cp >> 18), out += char(0x80 | (cp >> 12 & 0x3F)),
        out += char(0x80 | (cp >> 6 & 0x3F)), out += char(0x80 | (cp & 0x3F));
  }
}

// Character references in an attribute value: numeric ones and the few named ones that
// appear in addresses; anything else stays as written.
std::string DecodeEntities(const std::string& value) {
  static const std::pair<const char*, const char*> kNamed[] = {
      {"amp", "&"},         {"quot", "\""}, {"apos", "'"}, {"lt", "<"},   {"gt", ">"},
      {"nbsp", "\xC2\xA0"}, {"num", "#"},   {"sol", "/"},  {"colon", ":"}};
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '&') {
      out += value[i];
      continue;
    }
    size_t j = i + 1;
    if (j < value.size() && value[j] == '#') {
      bool hex = j + 1 < value.size() && Lower(value[j + 1]) == 'x';
      size_t k = j + (hex ? 2 : 1), start = k;
      uint32_t cp = 0;
      for (; k < value.size() && k - start < 8; ++k) {
        char c = Lower(value[k]);
        int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) break;
        cp = cp * (hex ? 16 : 10) + uint32_t(d);
      }
      if (k > start) {
        AppendUtf8(out, cp);
        i = k < value.size() && value[k] == ';' ? k : k - 1;
        continue;
      }
    }
    bool named = false;
    for (auto [name, text] : kNamed) {
      size_t n = std::strlen(name);
      if (value.compare(j, n, name) == 0) {
        out += text;
        i = j + n - 1 + (j + n < value.size() && value[j + n] == ';' ? 1 : 0);
        named = true;
        break;
      }
    }
    if (!named) out += '&';
  }
  return out;
}

struct Attribute {
  std::string name, value;
  size_t at = 0;  // offset of the value
};

// The URLs of a srcset value: each candidate's address is the run of non-space
// characters (trailing commas dropped); descriptors follow up to the next comma.
void SrcsetUrls(const std::string& value, size_t line, std::vector<Reference>& out) {
  size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && (IsSpace(value[i]) || value[i] == ',')) ++i;
    size_t start = i;
    while (i < value.size() && !IsSpace(value[i])) ++i;
    std::string url = value.substr(start, i - start);
    while (!url.empty() && url.back() == ',') url.pop_back();
    if (!url.empty()) out.push_back({line, url});
    if (start < i && value[i - 1] == ',') continue;
    while (i < value.size() && value[i] != ',') ++i;
  }
}

// The address of a refresh: "5; url=page.html", "0;URL='page.html'".
std::string RefreshUrl(const std::string& content) {
  size_t i = content.find_first_of(";,");
  if (i == std::string::npos) return {};
  ++i;
  while (i < content.size() && IsSpace(content[i])) ++i;
  if (StartsWithNoCase(content, i, "url")) {
    size_t j = i + 3;
    while (j < content.size() && IsSpace(content[j])) ++j;
    if (j < content.size() && content[j] == '=') {
      i = j + 1;
      while (i < content.size() && IsSpace(content[i])) ++i;
    }
  }
  std::string url = content.substr(i);
  if (!url.empty() && (url[0] == '"' || url[0] == '\'')) {
    size_t end = url.find(url[0], 1);
    url = url.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return url;
}

bool IsReferenceAttribute(const std::string& tag, const std::string& name) {
  if (name == "href" || name == "src" || name == "xlink:href" || name == "formaction") return true;
  if (name == "poster") return tag == "video";
  if (name == "data") return tag == "object";
  if (name == "action") return tag == "form";
  return false;
}

}  // namespace

std::vector<Reference> ScanCss(const std::string& text, size_t firstLine) {
  std::vector<Reference> out;
  Lines lines(text, firstLine);
  size_t i = 0;
  auto string = [&](size_t at, size_t& end) {
    char quote = text[at];
    size_t j = at + 1;
    std::string value;
    for (; j < text.size() && text[j] != quote && text[j] != '\n'; ++j) {
      if (text[j] == '\\' && j + 1 < text.size()) ++j;
      value += text[j];
    }
    end = j + 1;
    return value;
  };
  while (i < text.size()) {
    char c = text[i];
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 2;
    } else if (c == '"' || c == '\'') {
      string(i, i);
    } else if (StartsWithNoCase(text, i, "url(") && (i == 0 || !IsIdent(text[i - 1]))) {
      size_t j = i + 4;
      while (j < text.size() && IsSpace(text[j])) ++j;
      std::string url;
      size_t at = j;
      if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
        url = string(j, j);
      } else {
        size_t end = text.find(')', j);
        if (end == std::string::npos) end = text.size();
        url = text.substr(j, end - j);
        while (!url.empty() && IsSpace(url.back())) url.pop_back();
        j = end;
      }
      out.push_back({lines.At(at), url});
      i = j;
    } else if (StartsWithNoCase(text, i, "@import")) {
      size_t j = i + 7;
      while (j < text.size() && IsSpace(text[j])) ++j;
      if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
        size_t at = j;
        std::string url = string(j, j);
        out.push_back({lines.At(at), url});
      }
      i = j;
    } else {
      ++i;
    }
  }
  return out;
}

std::vector<Reference> ScanModule(const std::string& text, size_t firstLine) {
  // Tokens: identifiers, strings (with their offsets) and single punctuation characters.
  struct Token {
    char kind;  // 'i' identifier, 's' string, else the character
    std::string text;
    size_t at;
  };
  std::vector<Token> tokens;
  size_t i = 0;
  auto regexAllowed = [&] {
    if (tokens.empty()) return true;
    const Token& t = tokens.back();
    if (t.kind == 'i')
      return t.text == "return" || t.text == "typeof" || t.text == "case" || t.text == "in" ||
             t.text == "of" || t.text == "yield" || t.text == "await" || t.text == "void";
    return t.kind != ')' && t.kind != ']' && t.kind != '}' && t.kind != 's';
  };
  while (i < text.size()) {
    char c = text[i];
    if (IsSpace(c)) {
      ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = text.find('\n', i);
      if (i == std::string::npos) i = text.size();
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 2;
    } else if (c == '"' || c == '\'' || c == '`') {
      size_t at = i;
      std::string value;
      bool interpolated = false;
      for (++i; i < text.size() && text[i] != c; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        if (c == '`' && text[i] == '$' && i + 1 < text.size() && text[i + 1] == '{')
          interpolated = true;
        if (c != '`' && text[i] == '\n') break;
        value += text[i];
      }
      ++i;
      tokens.push_back({interpolated ? '`' : 's', value, at});
    } else if (c == '/' && regexAllowed()) {
      bool inClass = false;
      for (++i; i < text.size() && text[i] != '\n'; ++i) {
        if (text[i] == '\\') {
          ++i;
        } else if (text[i] == '[') {
          inClass = true;
        } else if (text[i] == ']') {
          inClass = false;
        } else if (text[i] == '/' && !inClass) {
          break;
        }
      }
      ++i;
      while (i < text.size() && IsIdent(text[i])) ++i;  // flags
      tokens.push_back({'/', "", i});
    } else if (IsIdent(c)) {
      size_t start = i;
      while (i < text.size() && IsIdent(text[i])) ++i;
      tokens.push_back({'i', text.substr(start, i - start), start});
    } else {
      tokens.push_back({c, "", i++});
    }
  }
  std::vector<Reference> out;
  Lines lines(text, firstLine);
  auto add = [&](const Token& t) { out.push_back({lines.At(t.at), t.text, true}); };
  auto ident = [&](size_t k, const char* word) {
    return k < tokens.size() && tokens[k].kind == 'i' && tokens[k].text == word;
  };
  for (size_t k = 0; k < tokens.size(); ++k) {
    bool member = k > 0 && tokens[k - 1].kind == '.';
    bool import = ident(k, "import"), exportFrom = ident(k, "export");
    if (member || (!import && !exportFrom)) continue;
    size_t n = k + 1;
    if (import && n < tokens.size() && tokens[n].kind == '(') {
      if (n + 2 < tokens.size() && tokens[n + 1].kind == 's' && tokens[n + 2].kind == ')')
        add(tokens[n + 1]);
      continue;
    }
    if (import && n < tokens.size() && tokens[n].kind == 's') {  // import "side-effect"
      add(tokens[n]);
      continue;
    }
    if (exportFrom && (n >= tokens.size() || (tokens[n].kind != '*' && tokens[n].kind != '{')))
      continue;  // export const/function/default...: nothing to load
    // The clause: names, braces, '*', 'as', commas; then from "...".
    for (; n < tokens.size(); ++n) {
      const Token& t = tokens[n];
      if (t.kind == 'i' && t.text == "from") {
        if (n + 1 < tokens.size() && tokens[n + 1].kind == 's') add(tokens[n + 1]);
        break;
      }
      if (t.kind != 'i' && t.kind != '{' && t.kind != '}' && t.kind != ',' && t.kind != '*' &&
          !(t.kind == 's' && n > 0 && tokens[n - 1].kind == 'i' && tokens[n - 1].text == "as"))
        break;
    }
    k = n;
  }
  return out;
}

PageReferences ScanHtml(const std::string& text) {
  PageReferences page;
  auto& out = page.references;
  Lines lines(text, 1);
  size_t i = 0;
  while (i < text.size()) {
    size_t lt = text.find('<', i);
    if (lt == std::string::npos || lt + 1 >= text.size()) break;
    i = lt + 1;
    if (text.compare(lt, 4, "<!--") == 0) {
      size_t end = text.find("-->", lt + 4);
      i = end == std::string::npos ? text.size() : end + 3;
      continue;
    }
    if (text.compare(lt, 9, "<![CDATA[") == 0) {
      size_t end = text.find("]]>", lt + 9);
      i = end == std::string::npos ? text.size() : end + 3;
      continue;
    }
    if (text[i] == '!' || text[i] == '?' || text[i] == '/') {
      size_t end = text.find('>', i);
      i = end == std::string::npos ? text.size() : end + 1;
      continue;
    }
    if (!IsAlpha(text[i])) continue;
    size_t start = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
    std::string tag = LowerText(text.substr(start, i - start));
    std::vector<Attribute> attributes;
    while (i < text.size() && text[i] != '>') {
      if (IsSpace(text[i]) || text[i] == '/') {
        ++i;
        continue;
      }
      size_t nameStart = i;
      while (i < text.size() && !IsSpace(text[i]) && text[i] != '>' && text[i] != '=' &&
             (text[i] != '/' || i == nameStart))
        ++i;
      Attribute a;
      a.name = LowerText(text.substr(nameStart, i - nameStart));
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i < text.size() && text[i] == '=') {
        ++i;
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
          size_t end = text.find(text[i], i + 1);
          if (end == std::string::npos) end = text.size();
          a.at = i + 1;
          a.value = text.substr(i + 1, end - i - 1);
          i = std::min(end + 1, text.size());
        } else {
          a.at = i;
          while (i < text.size() && !IsSpace(text[i]) && text[i] != '>') ++i;
          a.value = text.substr(a.at, i - a.at);
        }
        a.value = DecodeEntities(a.value);
      }
      attributes.push_back(std::move(a));
    }
    if (i < text.size()) ++i;  // '>'
    auto get = [&](const char* name) -> const Attribute* {
      for (const Attribute& a : attributes)
        if (a.name == name) return &a;
      return nullptr;
    };
    const Attribute* type = get("type");
    bool module = tag == "script" && type && LowerText(type->value) == "module";
    for (const Attribute& a : attributes) {
      if (tag == "base" && a.name == "href") {
        if (page.base.url.empty()) page.base = {lines.At(a.at), a.value};
      } else if (IsReferenceAttribute(tag, a.name)) {
        out.push_back({lines.At(a.at), a.value});
        if (module && a.name == "src") page.moduleScripts.push_back(out.back());
      } else if (a.name == "srcset") {
        SrcsetUrls(a.value, lines.At(a.at), out);
      } else if (a.name == "style") {
        for (Reference& r : ScanCss(a.value, lines.At(a.at))) out.push_back(std::move(r));
      } else if (a.name == "content" && tag == "meta") {
        const Attribute* equiv = get("http-equiv");
        std::string url = RefreshUrl(a.value);
        if (equiv && LowerText(equiv->value) == "refresh" && !url.empty())
          out.push_back({lines.At(a.at), url});
      }
    }
    // Raw text: nothing inside is markup until the element's end tag.
    if (tag == "script" || tag == "style" || tag == "textarea" || tag == "title" || tag == "xmp" ||
        tag == "noembed" || tag == "iframe") {
      std::string close = "</" + tag;
      size_t end = FindNoCase(text, i, close.c_str());
      if (end == std::string::npos) end = text.size();
      std::string body = text.substr(i, end - i);
      if (tag == "style" || (module && !get("src"))) {
        size_t first = lines.At(i);
        auto found = tag == "style" ? ScanCss(body, first) : ScanModule(body, first);
        for (Reference& r : found) out.push_back(std::move(r));
      }
      i = end;
    }
  }
  return page;
}

}  // namespace pack
