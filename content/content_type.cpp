#include "content/content_type.h"

#include <map>

namespace storage {
namespace {

struct Row {
  const char* extension;
  const char* type;
  bool stored;  // already compressed: the packer stores it as it is
};

// The one extension table.
const Row kRows[] = {
    {"avi", "video/avi", false},
    {"mp4", "video/mp4", true},
    {"wmv", "video/x-ms-wmv", false},
    {"mov", "video/quicktime", true},
    {"swf", "application/x-shockwave-flash", false},
    {"jpg", "image/jpeg", true},
    {"jpeg", "image/jpeg", true},
    {"gif", "image/gif", true},
    {"svg", "image/svg+xml", false},
    {"bmp", "image/x-ms-bmp", false},
    {"png", "image/png", true},
    {"htm", "text/html", false},
    {"html", "text/html", false},
    {"md", "text/markdown", false},
    {"rtf", "application/msword", false},
    {"docx", "application/msword", true},
    {"doc", "application/msword", false},
    {"dot", "application/msword", false},
    {"pptx", "application/vnd.ms-powerpoint", true},
    {"ppt", "application/vnd.ms-powerpoint", false},
    {"pot", "application/vnd.ms-powerpoint", false},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", true},
    {"xls", "application/vnd.ms-excel", false},
    {"pdf", "application/pdf", true},
    {"txt", "text/plain", false},
    {"wav", "audio/x-wav", false},
    {"mp3", "audio/x-mp3", true},
    {"gsm", "audio/x-gsm", false},
    {"js", "application/javascript", false},
    {"css", "text/css", false},
    {"xml", "text/xml", false},
    {"xliff", "text/xml", false},
    {"xlf", "text/xml", false},
    {"mnv", "application/x-morvane-navigation", false},
    {"mpk", "application/x-morvane-package", false},
    {"slc", "application/x-kvl-slc", false},
    {"potx", "application/vnd.openxmlformats-officedocument.presentationml.template", false},
    {"xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template", false},
    {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template", false},
    {"ttf", "application/octet-stream", false},
    {"woff", "application/font-woff", true},
    {"woff2", "application/font-woff2", true},
    {"eot", "application/vnd.ms-fontobject", false},
    {"msg", "application/vnd.ms-outlook", false},
    {"zip", "application/zip", true},
    // Types that today's browsers insist on (module scripts, WebAssembly streaming,
    // subtitle tracks) or that content commonly carries.
    {"mjs", "application/javascript", false},
    {"json", "application/json", false},
    {"wasm", "application/wasm", false},
    {"webm", "video/webm", true},
    {"ogg", "audio/ogg", true},
    {"ogv", "video/ogg", true},
    {"oga", "audio/ogg", true},
    {"webp", "image/webp", true},
    {"avif", "image/avif", true},
    {"ico", "image/x-icon", false},
    {"vtt", "text/vtt", false},
    {"m4a", "audio/mp4", true},
    {"m4v", "video/mp4", true},
    {"otf", "font/otf", false},
    {"csv", "text/csv", false},
    // Further formats the packer stores as they are.
    {"mkv", "video/x-matroska", true},
    {"opus", "audio/opus", true},
    {"flac", "audio/flac", true},
    {"aac", "audio/aac", true},
    {"heic", "image/heic", true},
    {"gz", "application/gzip", true},
    {"tgz", "application/gzip", true},
    {"bz2", "application/x-bzip2", true},
    {"xz", "application/x-xz", true},
    {"zst", "application/zstd", true},
    {"7z", "application/x-7z-compressed", true},
    {"rar", "application/vnd.rar", true},
    {"br", "application/octet-stream", true},
    {"epub", "application/epub+zip", true},
    {"jar", "application/java-archive", true},
};

const std::map<std::string, const Row*>& Table() {
  static const std::map<std::string, const Row*> table = [] {
    std::map<std::string, const Row*> byExtension;
    for (const Row& row : kRows) byExtension.emplace(row.extension, &row);
    return byExtension;
  }();
  return table;
}

}  // namespace

std::string GetContentType(const std::string& path, const std::string& defaultType) {
  size_t q = path.rfind('?');
  if (q == std::string::npos) q = path.size();
  size_t slash = std::string::npos;
  size_t dot = std::string::npos;
  if (q > 0) {
    slash = path.rfind('/', q - 1);
    if (slash == std::string::npos) slash = path.rfind('\\', q - 1);
    dot = path.rfind('.', q - 1);
  }
  if (dot == std::string::npos) return defaultType;
  if (slash != std::string::npos && dot < slash) return defaultType;
  std::string ext = path.substr(dot + 1, q - dot - 1);
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  auto it = Table().find(ext);
  return it == Table().end() ? defaultType : it->second->type;
}

bool IsStoredExtension(const std::string& extension) {
  auto it = Table().find(extension);
  return it != Table().end() && it->second->stored;
}

}  // namespace storage
