// Settings: DWORD values under the user's settings branch, "Expert" key.
//
// Windows: HKEY_CURRENT_USER\SOFTWARE\<branch>\Expert, the branch from the
// RegistryBranch string of the program's version resource ("Trellium" by default).
// POSIX: a plain settings file at $XDG_CONFIG_HOME/<branch>/Expert (else
// ~/.config/<branch>/Expert); the branch is a build-time constant.
//
// A missing key, value, wrong type or size counts as absent. Nothing here reports an
// error.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "utils/lock.h"

namespace settings {

// Fills each value of names (keys are the wanted string names) from the first
// translation of the file's version resource; returns how many were found (0 when the
// file has none). POSIX programs have no version resources: always 0.
int ReadVersionStrings(const std::u16string& filePath,
                       std::map<std::u16string, std::u16string>& names);
// One string of the version resource; an empty filePath stands for the program itself.
std::u16string ReadVersionString(const std::u16string& name, const std::u16string& filePath);

std::u16string GetRegistryBranch();
// "SOFTWARE\<branch>\" (with the trailing backslash).
std::u16string GetSettingsKeyPath();

// The setting's value, or defaultValue when absent. Reads the store at every call.
uint32_t GetDwordSetting(const std::u16string& name, uint32_t defaultValue);
// True when the setting is present and non-zero. The first answer for a name is cached
// for the life of the process. Safe to call from several threads.
bool IsSwitchOn(const std::u16string& name);

// Values the program keeps for itself between runs (not settings a user sets): DWORDs
// named name under the branch's key `key`. Windows: REG_DWORD values of
// HKEY_CURRENT_USER\SOFTWARE\<branch>\<key>; POSIX: "name=value" lines of the file
// <settings folder>/<branch>/<key>, in the settings file's format. Absent, unreadable or
// not a DWORD: defaultValue. Writing creates what is missing and answers whether the
// value was stored; other lines and values are kept. Writers are not serialised here:
// the runner writes only inside its start window (instance_lock.h).
uint32_t GetStoredDword(const std::u16string& key, const std::u16string& name,
                        uint32_t defaultValue);
bool SetStoredDword(const std::u16string& key, const std::u16string& name, uint32_t value);

class StoreWatch;

// A number that follows the store at once without reading it for every answer: Get
// answers what GetDwordSetting(name, defaultValue) answers at the time of the call, and
// reads the value again only when the store may have changed since the last read
// (POSIX: the settings file's path, identity, size or modification time; Windows: the
// Expert key's last-write time). A change stamped less than two seconds before a check
// is not trusted to be the last one (timestamps are coarse), so such a store is read at
// every call until its stamp has settled. Any thread may call Get.
class FollowedDword {
 public:
  FollowedDword(std::u16string name, uint32_t defaultValue);
  ~FollowedDword();
  FollowedDword(const FollowedDword&) = delete;
  FollowedDword& operator=(const FollowedDword&) = delete;

  uint32_t Get();

 private:
  const std::u16string name_;
  const uint32_t defaultValue_;
  utils::Lock lock_;
  std::unique_ptr<StoreWatch> watch_;
  std::string stamp_;  // of the store at the last read; empty: read again
  uint32_t value_ = 0;
};

}  // namespace settings
