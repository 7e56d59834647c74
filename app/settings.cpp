// The platform-independent half of the settings store: branch and key paths, the switch
// cache and the settings file format (used on POSIX, tested everywhere).
#include <map>
#include <utility>

#include "app/settings.h"
#include "app/settings_internal.h"
#include "utils/lock.h"

namespace settings {

std::u16string GetRegistryBranch() {
  static const std::u16string branch = [] {
    std::u16string b = LoadProgramBranch();
    return b.empty() ? std::u16string(u"Trellium") : b;
  }();
  return branch;
}

std::u16string GetSettingsKeyPath() { return u"SOFTWARE\\" + GetRegistryBranch() + u"\\"; }

bool IsSwitchOn(const std::u16string& name) {
  // Created on first use and never destroyed: switches may be asked during static
  // destruction (exception texts ask the dictionary, which asks "dict_debug").
  static auto* lock = new utils::Lock;
  static auto* cache = new std::map<std::u16string, bool>;
  {
    utils::LockGuard guard(*lock);
    auto it = cache->find(name);
    if (it != cache->end()) return it->second;
  }
  // Read outside the lock (registry or file access); if two threads race on the first
  // query of a name, the first answer stored is the one every caller sees from then on.
  bool on = GetDwordSetting(name, 0) != 0;
  utils::LockGuard guard(*lock);
  return cache->emplace(name, on).first->second;
}

FollowedDword::FollowedDword(std::u16string name, uint32_t defaultValue)
    : name_(std::move(name)), defaultValue_(defaultValue), watch_(new StoreWatch) {}

FollowedDword::~FollowedDword() = default;

uint32_t FollowedDword::Get() {
  utils::LockGuard guard(lock_);
  // The stamp is taken before the read: a change that lands between the two leaves a
  // stamp that differs at the next check, so it is read then.
  std::string stamp = watch_->Stamp();
  if (stamp.empty() || stamp != stamp_) {
    value_ = GetDwordSetting(name_, defaultValue_);
    stamp_ = std::move(stamp);
  }
  return value_;
}

std::optional<uint32_t> ParseDword(std::string_view text) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

std::optional<uint32_t> FindDword(std::string_view fileText, std::string_view name) {
  std::optional<uint32_t> result;
  bool seen = false;
  while (!fileText.empty()) {
    size_t end = fileText.find('\n');
    std::string_view line = Trim(fileText.substr(0, end));
    fileText.remove_prefix(end == std::string_view::npos ? fileText.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || Trim(line.substr(0, eq)) != name) continue;
    seen = true;
    result = ParseDword(Trim(line.substr(eq + 1)));
  }
  return seen ? result : std::nullopt;
}

std::string SetDwordLine(std::string_view fileText, std::string_view name, uint32_t value) {
  const std::string line = std::string(name) + "=" + std::to_string(value);
  // Where the line that counts (the last one naming name) starts and ends.
  size_t found = std::string_view::npos, foundEnd = 0;
  for (size_t start = 0; start < fileText.size();) {
    size_t end = fileText.find('\n', start);
    if (end == std::string_view::npos) end = fileText.size();
    std::string_view text = Trim(fileText.substr(start, end - start));
    size_t eq = text.find('=');
    if (!text.empty() && text.front() != '#' && eq != std::string_view::npos &&
        Trim(text.substr(0, eq)) == name) {
      found = start;
      foundEnd = end;
    }
    start = end + 1;
  }
  std::string out(fileText);
  if (found != std::string_view::npos) return out.replace(found, foundEnd - found, line);
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out + line + "\n";
}

}  // namespace settings
