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
#include <string>

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

}  // namespace settings
