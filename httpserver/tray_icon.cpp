#include "httpserver/tray_icon.h"

namespace storage {

std::u16string MakeNotificationTip(const std::string& url, const std::string& runPrefix,
                                   const std::u16string& caption) {
  std::u16string tip;
  // URLs and the run prefix are ASCII, so widening byte by byte is the ANSI conversion.
  for (char c : url + runPrefix) tip += static_cast<char16_t>(static_cast<unsigned char>(c));
  if (!caption.empty()) {
    tip += u'\n';
    tip += caption;
  }
  if (tip.size() > kMaxTipChars) {
    size_t keep = kMaxTipChars - 3;
    // Never leave half of a surrogate pair in front of the ellipsis.
    if (tip[keep - 1] >= 0xD800 && tip[keep - 1] <= 0xDBFF) --keep;
    tip = tip.substr(0, keep) + u"...";
  }
  return tip;
}

}  // namespace storage
