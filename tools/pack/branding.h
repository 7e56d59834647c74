// Branding of a Windows runner: the author's icon in place of icon group 1 and the
// author's name, version and company in the version resource. Every other resource, the
// RegistryBranch string among them, is kept.
//
// Pure functions over bytes; the resource section itself is rewritten by
// pe_resources.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/pack/icon_image.h"

namespace pack {

struct Branding {
  std::optional<std::vector<IconImage>> icon;         // made by MakeIconImages
  std::optional<std::string> name, version, company;  // UTF-8 texts
  // The program's file name as its version resource records it (OriginalFilename).
  std::optional<std::string> fileName;

  bool Any() const { return icon || name || version || company; }
};

// Applies branding to the program image:
// - icon: icon group 1 (every language it has) lists the new images, stored as new
//   RT_ICON resources; the icons only the old group used are dropped;
// - name: FileDescription and ProductName; version: FileVersion and ProductVersion, and
//   the numeric file and product versions when it reads as up to four dot-separated
//   numbers (each at most 65535); company: CompanyName; fileName: OriginalFilename.
//   Every string table of the version resource gets them; a program without one gets a
//   new one (U.S. English, Unicode).
// Returns "" or why the program cannot be branded; program is changed only on success.
std::string ApplyBranding(std::vector<uint8_t>& program, const Branding& branding);

}  // namespace pack
