// The process-wide pool of wide strings behind the dictionaries.
//
// Equal strings share one pooled copy: Add answers the same stable pointer for equal
// texts and counts its uses; Release undoes one Add and frees the copy at zero. The
// empty string is never pooled: every operation answers one shared empty string for it,
// and releasing it does nothing. All operations take one process-wide lock (created on
// first use); any thread may call them. The pool is never destroyed, so pooled texts held
// by objects that outlive static destruction stay valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace t9n {

using PooledString = const char16_t*;

class StringPool {
 public:
  // The pooled copy of text with one more use.
  static PooledString Add(std::u16string_view text);
  // The pooled copy of text without adding a use, or null when it is not pooled (the
  // shared empty string for an empty text).
  static PooledString Find(std::u16string_view text);
  // One more use of a string that Add answered.
  static void AddRef(PooledString pooled);
  // One use less; the string is freed when none is left. Null, the shared empty string
  // and pointers the pool does not know are ignored.
  static void Release(PooledString pooled);

  static PooledString Empty();
  // Uses of a pooled string (0 when not pooled), and the number of pooled strings.
  static uint32_t UseCount(PooledString pooled);
  static size_t Size();
};

}  // namespace t9n
