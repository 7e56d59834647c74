#include "app/control_entries.h"

#include <limits>

#include "app/command_line.h"

namespace app {

namespace {

// White space as the C library's iswspace sees it in the default locale.
bool IsWideSpace(char16_t c) {
  if (c == u' ' || (c >= 0x09 && c <= 0x0D)) return true;
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

}  // namespace

std::u16string DecodeControlText(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2 + 1);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned low = static_cast<unsigned char>(bytes[i]);
    unsigned high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    char16_t unit = static_cast<char16_t>(low | (high << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

int32_t ReadDecimalInt32(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && IsWideSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude in 64 bits and stop growing once it is past any 32-bit end.
  int64_t magnitude = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    digits = true;
    if (magnitude <= (int64_t{1} << 32)) magnitude = magnitude * 10 + (text[i] - u'0');
  }
  if (!digits) return 0;
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

bool IsPortChoice(int64_t port) { return port >= -1 && port <= 65535; }

int32_t ChooseServerPort(int32_t controlPort, uint32_t httpPort) {
  if (controlPort == -1 || httpPort < 1 || httpPort > 65535) return controlPort;
  return static_cast<int32_t>(httpPort);
}

void ApplyControlEntries(const std::u16string& start, const std::u16string& port,
                         const std::u16string& useIe, const std::u16string& caption,
                         std::u16string& query, ControlSettings& settings) {
  if (!start.empty()) AppendQueryParameter(query, u"show=" + start);
  if (!port.empty()) {
    int32_t value = ReadDecimalInt32(port);
    if (IsPortChoice(value)) settings.port = value;  // any other number: as if absent
  }
  if (!useIe.empty()) settings.useIe = ReadDecimalInt32(useIe) != 0;
  if (!caption.empty()) settings.caption = caption;
}

}  // namespace app
