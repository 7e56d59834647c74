#include "translation/dict.h"

#include <atomic>

#include "translation/string_pool.h"
#include "utils/exception.h"

namespace t9n {
namespace {

std::atomic<bool> debugLookups{false};

// Exception captions and the system-error language from the global dictionary.
class GlobalDictTexts : public utils::ExceptionTextsI {
 public:
  std::u16string Caption(const std::u16string& key) override {
    return GetGlobalDict().LookupOrEmpty(key);
  }
  uint16_t Language() override { return GetGlobalDict().GetLanguage(); }
};

}  // namespace

void SetDebugLookups(bool on) { debugLookups.store(on); }

void InstallExceptionTexts() {
  // Never destroyed, like the dictionary it reads.
  static auto* texts = new GlobalDictTexts;
  utils::SetExceptionTexts(texts);
}

Dict::Dict(uint16_t language) : language_(language) {}

Dict::~Dict() {
  Dict::Clear();
  for (auto& [key, unused] : answeredKeys_) StringPool::Release(key);
}

void Dict::Release() { delete this; }
uint16_t Dict::GetLanguage() const { return language_; }
void Dict::SetLanguage(uint16_t id) { language_ = id; }
uint16_t Dict::GetFallbackLanguage() const { return fallbackLanguage_; }
void Dict::SetFallbackLanguage(uint16_t id) { fallbackLanguage_ = id; }
const std::u16string& Dict::GetKeyPrefix() const { return keyPrefix_; }
void Dict::SetKeyPrefix(const std::u16string& prefix) { keyPrefix_ = prefix; }

PooledString Dict::FindEntryText(const std::u16string& key) const {
  // Only a key that is pooled at all can have an entry: a cheap miss without adding.
  PooledString pooled =
      keyPrefix_.empty() ? StringPool::Find(key) : StringPool::Find(keyPrefix_ + key);
  if (!pooled) return nullptr;
  auto it = entries_.find(pooled);
  return it == entries_.end() ? nullptr : it->second;
}

PooledString Dict::AnswerKey(const std::u16string& key) {
  PooledString pooled = StringPool::Add(keyPrefix_ + key);
  // One use per distinct key and dictionary, so repeated lookups do not pile up uses.
  if (!answeredKeys_.emplace(pooled, true).second) StringPool::Release(pooled);
  if (pooled == StringPool::Empty()) answeredKeys_.erase(pooled);
  return pooled;
}

PooledString Dict::Lookup(const std::u16string& key) {
  if (PooledString text = FindEntryText(key)) return text;
  return AnswerKey(key);
}

PooledString Dict::LookupOrEmpty(const std::u16string& key) {
  if (PooledString text = FindEntryText(key)) return text;
  if (debugLookups.load(std::memory_order_relaxed)) return AnswerKey(key);
  return StringPool::Empty();
}

bool Dict::Contains(const std::u16string& key) const { return FindEntryText(key) != nullptr; }

void Dict::Put(const std::u16string& key, const std::u16string& text, bool replace) {
  PooledString pooledKey = StringPool::Add(key);
  auto it = entries_.find(pooledKey);
  if (it != entries_.end()) {
    StringPool::Release(pooledKey);  // the entry already holds a use of its key
    if (!replace) return;
    PooledString pooledText = StringPool::Add(text);
    StringPool::Release(it->second);
    it->second = pooledText;
    return;
  }
  entries_.emplace(pooledKey, StringPool::Add(text));
}

void Dict::AddText(const std::u16string& key, const std::u16string& text) { Put(key, text, false); }
void Dict::SetText(const std::u16string& key, const std::u16string& text) { Put(key, text, true); }

DictI* Dict::CloneDict() const {
  auto* copy = new Dict(language_);
  copy->fallbackLanguage_ = fallbackLanguage_;
  copy->keyPrefix_ = keyPrefix_;
  for (auto& [key, text] : entries_) {
    StringPool::AddRef(key);
    StringPool::AddRef(text);
    copy->entries_.emplace(key, text);
  }
  return copy;
}

void Dict::Merge(const DictI& other, bool overwrite) {
  if (&other == this) return;
  for (auto& [key, text] : other.Entries()) Put(key, text, overwrite);
}

void Dict::AddMissing(const DictI& other, std::u16string* addedKeys) {
  if (&other == this) return;
  for (auto& [key, text] : other.Entries()) {
    PooledString pooled = StringPool::Find(key);
    if (pooled && entries_.count(pooled)) continue;
    Put(key, text, false);
    if (addedKeys) {
      *addedKeys += key;
      *addedKeys += u' ';
    }
  }
}

void Dict::Clear() {
  for (auto& [key, text] : entries_) {
    StringPool::Release(key);
    StringPool::Release(text);
  }
  entries_.clear();
  keyPrefix_.clear();
}

size_t Dict::Count() const { return entries_.size(); }
bool Dict::IsEmpty() const { return entries_.empty(); }

DictI* Dict::SubsetWithPrefix(const std::u16string& prefix) const {
  auto* subset = new Dict(language_);
  subset->fallbackLanguage_ = fallbackLanguage_;
  subset->keyPrefix_ = prefix;
  for (auto& [key, text] : entries_) {
    if (std::u16string_view(key).substr(0, prefix.size()) != prefix) continue;
    StringPool::AddRef(key);
    StringPool::AddRef(text);
    subset->entries_.emplace(key, text);
  }
  return subset;
}

bool Dict::ExpandReferences(std::u16string& text, const std::u16string& open,
                            const std::u16string& close) {
  bool replaced = false;
  // Empty delimiters would match everywhere without moving on.
  if (!open.empty() && !close.empty()) {
    size_t pos = 0;
    for (int round = 0; round < 100; ++round) {
      size_t start = text.find(open, pos);
      if (start == std::u16string::npos) break;
      size_t keyStart = start + open.size();
      size_t end = text.find(close, keyStart);
      if (end == std::u16string::npos) break;
      PooledString value = FindEntryText(text.substr(keyStart, end - keyStart));
      if (value) {
        std::u16string replacement(value);
        text.replace(start, end + close.size() - start, replacement);
        // Go on after the inserted text: a text that names itself cannot loop.
        pos = start + replacement.size();
        replaced = true;
      } else {
        pos = keyStart;
      }
    }
  }
  GlobalDict& global = GetGlobalDict();
  if (static_cast<DictI*>(this) != static_cast<DictI*>(&global)) {
    replaced = global.ExpandReferences(text, open, close) || replaced;
  }
  return replaced;
}

std::shared_ptr<std::vector<std::u16string>> Dict::GetExtraList() {
  return std::make_shared<std::vector<std::u16string>>();
}

// Nothing in this program ships translated string resources.
void Dict::LoadResources() {}

std::vector<std::pair<PooledString, PooledString>> Dict::Entries() const {
  return {entries_.begin(), entries_.end()};
}

GlobalDict::GlobalDict()
    : Dict(0),
      firstList_(std::make_shared<std::vector<std::u16string>>()),
      extraList_(std::make_shared<std::vector<std::u16string>>()) {}

void GlobalDict::Clear() {
  Dict::Clear();
  extraList_->clear();
}

std::shared_ptr<std::vector<std::u16string>> GlobalDict::GetExtraList() { return extraList_; }

GlobalDict& GetGlobalDict() {
  static GlobalDict* dict = new GlobalDict;
  return *dict;
}

}  // namespace t9n
