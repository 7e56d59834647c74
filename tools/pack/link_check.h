// The packer's link check: every local reference of the content's pages, style sheets
// and JavaScript modules resolved the way the packed program resolves it, and reported
// when it names nothing in the content.
//
// What is read: in HTML pages the attributes href, src, srcset, poster, data, action,
// formaction, xlink:href, <meta http-equiv=refresh>, inline style attributes and <style>
// blocks, and the code of <script type=module>; in style sheets url(...) and @import;
// in JavaScript modules (".mjs", and files a page loads with <script type=module src>)
// static import/export ... from "..." and import("...") with a literal. The scanners are
// tolerant: comments, CDATA, raw-text elements, entities in attribute values, unquoted
// attributes and upper-case names are read as browsers read them.
//
// How a reference resolves: against the page's address as the browser has it (below the
// run prefix), then through the server's own request rules (ParseRequestLine: run prefix,
// root-relative paths, folders to "index.html"; RewriteWebAppPath) and the content's
// lookup, which is the provider's own (HttpFolderProvider::Resolve, or the archive's
// entry keys). External addresses (https:, mailto:, data:, ...) are not checked; fixed
// addresses of this machine (localhost, 127.0.0.1, [::1]) are reported, and so are
// references that climb above the content root and a missing start page.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pack {

// One local or suspicious reference found in a file.
struct Reference {
  size_t line = 0;      // 1-based
  std::string url;      // as written, entities decoded
  bool module = false;  // a module specifier (bare names like "lib" are not addresses)
};

// What a page holds: its references, and the JavaScript modules it loads by address.
struct PageReferences {
  std::vector<Reference> references;
  std::vector<Reference> moduleScripts;  // <script type=module src=...>, also in references
  // The first <base href=...>, which the page's relative references resolve against (an
  // empty url: none). Not in references: a base names a folder, not a file to fetch.
  Reference base;
};

PageReferences ScanHtml(const std::string& text);
// References of a style sheet; lines count from firstLine (a <style> block's own line).
std::vector<Reference> ScanCss(const std::string& text, size_t firstLine = 1);
std::vector<Reference> ScanModule(const std::string& text, size_t firstLine = 1);

// The content as the packed program would see it.
struct ContentView {
  std::vector<std::string> names;  // every file, UTF-8, '/' separators, from the root
  // A file's bytes (names as above), nullopt when unreadable.
  std::function<std::optional<std::string>(const std::string& name)> read;
  // Whether the provider finds something for a request path (as the server hands it on).
  std::function<bool(const std::string& path)> has;
};

struct LinkReport {
  std::vector<std::string> warnings;  // "page.html:12: \"img/logo.png\" is not in the content"
  size_t pages = 0;                   // files read: pages, style sheets, modules
  size_t references = 0;              // local references resolved
};

LinkReport CheckLinks(const ContentView& content);

// The warning for a missing start page (also the packer's own).
extern const char kNoStartPage[];

}  // namespace pack
