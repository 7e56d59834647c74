// The control entries (.start, .port, .use_ie, .caption, .cross_origin) as the runner reads them:
// UTF-16 little-endian code units without a byte-order mark, and their decoding for
// listings (the runner's rule: an odd last byte fills the low half of one more unit, the
// text ends at the first zero unit).
#pragma once

#include <optional>
#include <string>

namespace pack {

// UTF-8 text as UTF-16LE bytes; nullopt when text is not valid UTF-8.
std::optional<std::string> EncodeControlText(const std::string& utf8);
// UTF-16LE bytes as UTF-8 text (unpaired surrogates become U+FFFD).
std::string DecodeControlText(const std::string& bytes);

// Whether text reads as a whole signed 32-bit decimal number (optional sign, digits,
// nothing else), as --port and --use-ie must be.
bool IsDecimalInt32(const std::string& text);

// Whether text is a port the runner takes from ".port": a decimal number (as above) that
// is -1 (any free port, settings not consulted), 0 (any free port unless the user's
// settings name one) or a TCP port 1 to 65535.
bool IsControlPort(const std::string& text);

// The ".cross_origin" entry and the one value --cross-origin takes: "any" lets every web
// page read the content and open WebSockets (without the entry, only the content's own
// pages may).
inline constexpr char kCrossOriginEntry[] = ".cross_origin";
inline constexpr char kCrossOriginAny[] = "any";

}  // namespace pack
