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

namespace pack {

struct Branding {
  std::optional<std::vector<uint8_t>> icon;           // the bytes of a .ico or a PNG file
  std::optional<std::string> name, version, company;  // UTF-8 texts

  bool Any() const { return icon || name || version || company; }
};

// One image of an icon: the fields of its directory entry and its bytes (a PNG or a
// device-independent bitmap with its mask).
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0 width or height: 256 pixels
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;
};

// The images of a .ico file, or of a PNG file as one image (at most 256 by 256 pixels).
// Returns "" or why the bytes are neither.
std::string ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images);

// Applies branding to the program image:
// - icon: icon group 1 (every language it has) lists the new images, stored as new
//   RT_ICON resources; the icons only the old group used are dropped;
// - name: FileDescription and ProductName; version: FileVersion and ProductVersion, and
//   the numeric file and product versions when it reads as up to four dot-separated
//   numbers (each at most 65535); company: CompanyName. Every string table of the
//   version resource gets them; a program without one gets a new one (U.S. English,
//   Unicode).
// Returns "" or why the program cannot be branded; program is changed only on success.
std::string ApplyBranding(std::vector<uint8_t>& program, const Branding& branding);

}  // namespace pack
