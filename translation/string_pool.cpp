#include "translation/string_pool.h"

#include <unordered_map>

#include "utils/lock.h"

namespace t9n {
namespace {

constexpr char16_t kEmpty[] = u"";

struct Entry {
  std::u16string text;
  uint32_t uses;
};

// Two indexes over the same entries: by text for Add/Find, by the answered pointer for
// AddRef/Release (a pooled text may hold a NUL, so its pointer alone does not give its
// length back).
struct Pool {
  utils::Lock lock;
  std::unordered_map<std::u16string_view, Entry*> byText;
  std::unordered_map<PooledString, Entry*> byPointer;
};

Pool& ThePool() {
  static Pool* pool = new Pool;  // never destroyed: see the header
  return *pool;
}

}  // namespace

PooledString StringPool::Empty() { return kEmpty; }

PooledString StringPool::Add(std::u16string_view text) {
  if (text.empty()) return kEmpty;
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  auto it = pool.byText.find(text);
  if (it != pool.byText.end()) {
    // Saturates: a string used four billion times stays for good instead of wrapping.
    if (it->second->uses != UINT32_MAX) ++it->second->uses;
    return it->second->text.c_str();
  }
  auto* entry = new Entry{std::u16string(text), 1};
  pool.byText.emplace(std::u16string_view(entry->text), entry);
  pool.byPointer.emplace(entry->text.c_str(), entry);
  return entry->text.c_str();
}

PooledString StringPool::Find(std::u16string_view text) {
  if (text.empty()) return kEmpty;
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  auto it = pool.byText.find(text);
  return it == pool.byText.end() ? nullptr : it->second->text.c_str();
}

void StringPool::AddRef(PooledString pooled) {
  if (!pooled || pooled == kEmpty) return;
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  auto it = pool.byPointer.find(pooled);
  if (it != pool.byPointer.end() && it->second->uses != UINT32_MAX) ++it->second->uses;
}

void StringPool::Release(PooledString pooled) {
  if (!pooled || pooled == kEmpty) return;
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  auto it = pool.byPointer.find(pooled);
  if (it == pool.byPointer.end()) return;
  Entry* entry = it->second;
  if (entry->uses == UINT32_MAX || --entry->uses != 0) return;
  pool.byPointer.erase(it);
  pool.byText.erase(std::u16string_view(entry->text));
  delete entry;
}

uint32_t StringPool::UseCount(PooledString pooled) {
  if (!pooled || pooled == kEmpty) return 0;
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  auto it = pool.byPointer.find(pooled);
  return it == pool.byPointer.end() ? 0 : it->second->uses;
}

size_t StringPool::Size() {
  Pool& pool = ThePool();
  utils::LockGuard guard(pool.lock);
  return pool.byText.size();
}

}  // namespace t9n
