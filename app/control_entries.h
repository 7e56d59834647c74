// The content's control entries: archive entries whose names begin with a dot and that
// the runner reads once at start (".start", ".port", ".use_ie", ".caption").
//
// Their bytes are UTF-16 little-endian text. The decoding and the number reading here
// are pure; reading the entries out of the archive is the start-up's part.
#pragma once

#include <cstdint>
#include <string>

namespace app {

inline constexpr char16_t kStartEntry[] = u".start";
inline constexpr char16_t kPortEntry[] = u".port";
inline constexpr char16_t kUseIeEntry[] = u".use_ie";
inline constexpr char16_t kCaptionEntry[] = u".caption";
// "any": every web page may read the content (the packer's --cross-origin any).
inline constexpr char16_t kCrossOriginEntry[] = u".cross_origin";

// The entry's bytes as UTF-16LE code units (an odd last byte fills the low half of one
// more unit), ending at the first zero unit. No byte-order mark is skipped.
std::u16string DecodeControlText(const std::string& bytes);

// A decimal number read the way the C library's wcstol reads base 10 with a 32-bit
// long: leading white space skipped, an optional sign, digits up to the first other
// character; no digits gives 0; values outside the signed 32-bit range are clamped.
int32_t ReadDecimalInt32(const std::u16string& text);

// A port choice as ".port" and the server take it: -1 (any free port, the HttpPort
// setting not consulted), 0 (any free port unless HttpPort names one) or a TCP port
// 1 to 65535. A ".port" entry outside this range counts as absent.
bool IsPortChoice(int64_t port);

// The port the server asks for: controlPort, unless it is not -1 and httpPort (the
// HttpPort setting's number, 0 when off) is a TCP port 1 to 65535, which then replaces it.
// A setting outside that range counts as absent.
int32_t ChooseServerPort(int32_t controlPort, uint32_t httpPort);

// What the control entries decide for one run. Defaults stand for missing entries.
struct ControlSettings {
  int32_t port = 0;
  bool useIe = true;
  std::u16string caption;
};

// Applies the decoded texts (empty = missing) to the settings and the start query:
// ".start" appends "show=" + text as one more query parameter.
void ApplyControlEntries(const std::u16string& start, const std::u16string& port,
                         const std::u16string& useIe, const std::u16string& caption,
                         std::u16string& query, ControlSettings& settings);

}  // namespace app
