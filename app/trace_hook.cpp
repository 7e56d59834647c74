#include "app/trace_hook.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "utils/encoding.h"

namespace app {

namespace {

// Expands %s (wide), %hs, %d, %u, %x and %% — all the hook is ever given.
std::u16string Expand(const char16_t* format, va_list args) {
  std::u16string out;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%' || !p[1]) {
      out += *p;
      continue;
    }
    ++p;
    if (*p == u'h' && p[1] == u's') {
      ++p;
      const char* s = va_arg(args, const char*);
      out += utils::Utf8ToWide(s ? s : "(null)");
    } else if (*p == u's') {
      const char16_t* s = va_arg(args, const char16_t*);
      out += s ? s : u"(null)";
    } else if (*p == u'd') {
      out += utils::DecimalW(static_cast<int32_t>(va_arg(args, int)));
    } else if (*p == u'u') {
      out += utils::DecimalW(static_cast<uint32_t>(va_arg(args, unsigned)));
    } else if (*p == u'x') {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%x", va_arg(args, unsigned));
      out += utils::Utf8ToWide(buffer);
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

void TraceHook(const char16_t* format, ...) {
  static const bool enabled = std::getenv("CONTENTEXE_TRACE") != nullptr;
  if (!enabled || !format) return;
  va_list args;
  va_start(args, format);
  std::u16string text = Expand(format, args);
  va_end(args);
  std::fputs(utils::WideToUtf8(text).c_str(), stderr);
}

}  // namespace app
