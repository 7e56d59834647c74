#include "tools/pack/link_check.h"

#include <set>

#include "httpserver/request.h"

namespace pack {

const char kNoStartPage[] = "the source has no index.html: the start page will not be found";

namespace {

// A run prefix of the form the runner makes; any would do, the server strips it.
const char kPrefix[] = "1f2e3d/";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string Trim(const std::string& s) {
  const char* space = " \t\n\r\f";
  size_t b = s.find_first_not_of(space);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}

std::string Extension(const std::string& name) {
  size_t dot = name.rfind('.'), slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = Lower(c);
  return ext;
}

// The scheme of an absolute address ("https", "mailto"), lower-cased, or empty.
std::string Scheme(const std::string& url) {
  size_t i = 0;
  while (i < url.size() && (isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' ||
                            url[i] == '-' || url[i] == '.'))
    ++i;
  if (i == 0 || i >= url.size() || url[i] != ':' || !isalpha(static_cast<unsigned char>(url[0])))
    return {};
  std::string scheme = url.substr(0, i);
  for (char& c : scheme) c = Lower(c);
  return scheme;
}

// Whether an address after "//" names this machine: localhost, 127.x.x.x or [::1].
bool IsLoopbackAuthority(const std::string& afterSlashes) {
  std::string host = afterSlashes.substr(0, afterSlashes.find_first_of("/?#"));
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  if (host.rfind("[", 0) == 0) return host.rfind("[::1]", 0) == 0;
  host = host.substr(0, host.find(':'));
  for (char& c : host) c = Lower(c);
  return host == "localhost" || host.rfind("127.", 0) == 0;
}

// Bytes a browser escapes before it sends a path.
std::string EscapeForRequest(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

// The path of reference against the page's path, as a browser merges them (RFC 3986,
// 5.2): dot segments removed, never above "/". climbed tells whether a ".." went above
// the folder the base's first segments stand for (the run prefix).
std::string MergePath(const std::string& basePath, const std::string& reference, bool& climbed) {
  std::string merged =
      reference[0] == '/' ? reference : basePath.substr(0, basePath.rfind('/') + 1) + reference;
  std::vector<std::string> out;
  size_t floor = reference[0] == '/' ? 0 : 1;  // the prefix segment stays for relative links
  climbed = false;
  size_t i = 1;
  bool trailing = false;
  while (i <= merged.size()) {
    size_t end = merged.find('/', i);
    if (end == std::string::npos) end = merged.size();
    std::string segment = merged.substr(i, end - i);
    trailing = end < merged.size() || segment == "." || segment == "..";
    if (segment == "..") {
      if (out.size() <= floor) climbed = true;
      if (!out.empty()) out.pop_back();
    } else if (segment != ".") {
      out.push_back(segment);
    }
    i = end + 1;
  }
  std::string path;
  for (const std::string& s : out) path += "/" + s;
  if (trailing || path.empty()) path += "/";
  return path;
}

// What a page's relative references resolve against.
struct DocumentBase {
  std::string path;       // with the run prefix, like a page's own path
  bool external = false;  // another site's (or scheme's): nothing relative is content
};

struct Checker {
  const ContentView& content;
  LinkReport report;
  std::set<std::string> modulesDone;

  void Warn(const std::string& file, size_t line, const std::string& text) {
    report.warnings.push_back(file + ":" + std::to_string(line) + ": " + text);
  }

  // Checks one reference; a local one that is found gives the path the server found
  // (resolved, when asked for).
  void Check(const std::string& file, const Reference& ref, std::string* resolved = nullptr,
             const DocumentBase* base = nullptr) {
    std::string url = Trim(ref.url);
    url = url.substr(0, url.find('#'));
    if (url.empty()) return;  // the page itself, or a place in it
    std::string scheme = Scheme(url);
    std::string afterSlashes;
    if (scheme == "http" || scheme == "https") {
      if (url.compare(scheme.size() + 1, 2, "//") == 0)
        afterSlashes = url.substr(scheme.size() + 3);
    } else if (url.compare(0, 2, "//") == 0) {
      afterSlashes = url.substr(2);
    }
    if (!afterSlashes.empty() || url.compare(0, 2, "//") == 0) {
      if (IsLoopbackAuthority(afterSlashes))
        Warn(file, ref.line,
             "\"" + ref.url +
                 "\" names this machine with a fixed address: the program's port changes; "
                 "link with a relative or root-relative address instead");
      return;
    }
    if (!scheme.empty()) return;  // mailto:, data:, javascript:, ...: not content
    if (base && base->external) return;  // resolves on the base's site
    // A bare module specifier ("lib") is for an import map, not an address.
    if (ref.module && url[0] != '/' && url.rfind("./", 0) != 0 && url.rfind("../", 0) != 0) return;
    std::string query;
    if (size_t q = url.find('?'); q != std::string::npos) query = url.substr(q), url.resize(q);
    if (url.empty()) return;  // "?x": the page itself
    bool climbed = false;
    std::string path =
        MergePath(base ? base->path : "/" + std::string(kPrefix) + file, url, climbed);
    ++report.references;
    if (climbed) {
      Warn(file, ref.line,
           "\"" + ref.url + "\" climbs above the content root; link inside the content");
      return;
    }
    storage::RequestLine line = storage::ParseRequestLine(
        "GET " + EscapeForRequest(path) + query + " HTTP/1.1\r\n", kPrefix);
    std::string target = line.verdict == storage::RequestVerdict::kServe
                             ? storage::RewriteWebAppPath(line.path)
                             : "";
    if (target.empty() || !content.has(target)) {
      Warn(file, ref.line, "\"" + ref.url + "\" is not in the content");
      return;
    }
    if (resolved) *resolved = target;
  }

  // The base a page's <base href> makes, as a browser resolves it against the page.
  DocumentBase BaseOf(const std::string& file, const Reference& ref) {
    DocumentBase base{"/" + std::string(kPrefix) + file};
    std::string url = Trim(ref.url);
    url = url.substr(0, url.find_first_of("?#"));
    if (url.empty()) return base;
    if (!Scheme(url).empty() || url.compare(0, 2, "//") == 0) {
      Check(file, ref);  // says so when it names this machine with a fixed address
      base.external = true;
      return base;
    }
    bool climbed = false;
    base.path = MergePath(base.path, url, climbed);
    // A root-relative base stands for the content's root, which the run prefix names.
    if (url[0] == '/') base.path = "/" + std::string(kPrefix) + base.path.substr(1);
    if (climbed) {
      Warn(file, ref.line,
           "\"" + ref.url + "\" climbs above the content root; link inside the content");
    }
    return base;
  }

  void CheckAll(const std::string& file, const std::vector<Reference>& refs) {
    for (const Reference& r : refs) Check(file, r);
  }

  void Module(const std::string& name) {
    if (!modulesDone.insert(name).second) return;
    auto text = content.read(name);
    if (!text) return;
    ++report.pages;
    CheckAll(name, ScanModule(*text));
  }
};

}  // namespace

LinkReport CheckLinks(const ContentView& content) {
  Checker checker{content, {}, {}};
  if (!content.has("index.html")) checker.report.warnings.push_back(kNoStartPage);
  std::vector<std::pair<std::string, std::string>> modulesLoaded;  // page, module path
  for (const std::string& name : content.names) {
    std::string ext = Extension(name);
    if (ext == "html" || ext == "htm" || ext == "xhtml") {
      auto text = content.read(name);
      if (!text) continue;
      ++checker.report.pages;
      PageReferences page = ScanHtml(*text);
      const DocumentBase base = checker.BaseOf(name, page.base);
      for (const Reference& r : page.references) {
        bool isModule = false;
        for (const Reference& m : page.moduleScripts)
          isModule |= m.line == r.line && m.url == r.url;
        std::string resolved;
        checker.Check(name, r, isModule ? &resolved : nullptr, &base);
        if (!resolved.empty()) modulesLoaded.push_back({name, resolved});
      }
    } else if (ext == "css") {
      if (auto text = content.read(name)) {
        ++checker.report.pages;
        checker.CheckAll(name, ScanCss(*text));
      }
    } else if (ext == "mjs") {
      checker.Module(name);
    }
  }
  // Modules a page loads by address are read as modules whatever their extension; the
  // name the server found is looked up among the content's names as an entry key would be.
  for (const auto& [page, path] : modulesLoaded) {
    for (const std::string& name : content.names) {
      if (name.size() != path.size()) continue;
      bool same = true;
      for (size_t i = 0; same && i < name.size(); ++i)
        same = Lower(name[i]) == Lower(path[i]) || (name[i] == '/' && path[i] == '\\');
      if (same) checker.Module(name);
    }
  }
  return checker.report;
}

}  // namespace pack
