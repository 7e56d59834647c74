#include "content/content_type.h"

#include <map>

namespace storage {
namespace {

const std::map<std::string, std::string>& Table() {
  static const std::map<std::string, std::string> table = {
      {"avi", "video/avi"},
      {"mp4", "video/mp4"},
      {"wmv", "video/x-ms-wmv"},
      {"mov", "video/quicktime"},
      {"swf", "application/x-shockwave-flash"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"svg", "image/svg+xml"},
      {"bmp", "image/x-ms-bmp"},
      {"png", "image/png"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"md", "text/markdown"},
      {"rtf", "application/msword"},
      {"docx", "application/msword"},
      {"doc", "application/msword"},
      {"dot", "application/msword"},
      {"pptx", "application/vnd.ms-powerpoint"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"pot", "application/vnd.ms-powerpoint"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"xls", "application/vnd.ms-excel"},
      {"pdf", "application/pdf"},
      {"txt", "text/plain"},
      {"wav", "audio/x-wav"},
      {"mp3", "audio/x-mp3"},
      {"gsm", "audio/x-gsm"},
      {"js", "application/javascript"},
      {"css", "text/css"},
      {"xml", "text/xml"},
      {"xliff", "text/xml"},
      {"xlf", "text/xml"},
      {"mnv", "application/x-morvane-navigation"},
      {"mpk", "application/x-morvane-package"},
      {"slc", "application/x-kvl-slc"},
      {"potx", "application/vnd.openxmlformats-officedocument.presentationml.template"},
      {"xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template"},
      {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
      {"ttf", "application/octet-stream"},
      {"woff", "application/font-woff"},
      {"woff2", "application/font-woff2"},
      {"eot", "application/vnd.ms-fontobject"},
      {"msg", "application/vnd.ms-outlook"},
      {"zip", "application/zip"},
      // Types that today's browsers insist on (module scripts, WebAssembly streaming,
      // subtitle tracks) or that content commonly carries.
      {"mjs", "application/javascript"},
      {"json", "application/json"},
      {"wasm", "application/wasm"},
      {"webm", "video/webm"},
      {"ogg", "audio/ogg"},
      {"ogv", "video/ogg"},
      {"oga", "audio/ogg"},
      {"webp", "image/webp"},
      {"avif", "image/avif"},
      {"ico", "image/x-icon"},
      {"vtt", "text/vtt"},
      {"m4a", "audio/mp4"},
      {"m4v", "video/mp4"},
      {"otf", "font/otf"},
      {"csv", "text/csv"},
  };
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
  return it == Table().end() ? defaultType : it->second;
}

}  // namespace storage
