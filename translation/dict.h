// Translation dictionaries: keys to texts in one language, with a fallback language.
//
// Keys and texts are pooled strings (string_pool.h): equal strings share one pooled
// copy, so the entries map hashes and compares pointers. Returned texts stay valid as
// long as the pool holds them: a dictionary keeps a use of every text it answered (the
// keys it answered for missing texts included) until it is destroyed. Dictionaries have
// no lock of their own; the global one is only read after construction.
//
// The key prefix applies to the lookups (Lookup, LookupOrEmpty, Contains and the keys
// inside ExpandReferences); AddText and SetText store the key as given, which is how
// SubsetWithPrefix keeps its entries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace t9n {

using PooledString = const char16_t*;

class DictI {
 public:
  virtual void Release() = 0;
  virtual uint16_t GetLanguage() const = 0;
  virtual void SetLanguage(uint16_t id) = 0;
  virtual uint16_t GetFallbackLanguage() const = 0;
  virtual void SetFallbackLanguage(uint16_t id) = 0;
  virtual const std::u16string& GetKeyPrefix() const = 0;
  virtual void SetKeyPrefix(const std::u16string& prefix) = 0;
  // The text for the key, or the (pooled) key itself when there is none.
  virtual PooledString Lookup(const std::u16string& key) = 0;
  // The text for the key, or the empty text (debug lookups on: the key).
  virtual PooledString LookupOrEmpty(const std::u16string& key) = 0;
  virtual bool Contains(const std::u16string& key) const = 0;
  virtual void AddText(const std::u16string& key, const std::u16string& text) = 0;
  virtual void SetText(const std::u16string& key, const std::u16string& text) = 0;
  virtual DictI* CloneDict() const = 0;
  virtual void Merge(const DictI& other, bool overwrite) = 0;
  virtual void AddMissing(const DictI& other, std::u16string* addedKeys) = 0;
  virtual void Clear() = 0;
  virtual size_t Count() const = 0;
  virtual bool IsEmpty() const = 0;
  virtual DictI* SubsetWithPrefix(const std::u16string& prefix) const = 0;
  virtual bool ExpandReferences(std::u16string& text, const std::u16string& open,
                                const std::u16string& close) = 0;
  virtual ~DictI() = default;
  virtual std::shared_ptr<std::vector<std::u16string>> GetExtraList() = 0;
  virtual void LoadResources() = 0;
  // Every (key, text) pair, for Merge and friends.
  virtual std::vector<std::pair<PooledString, PooledString>> Entries() const = 0;
};

class Dict : public DictI {
 public:
  explicit Dict(uint16_t language);
  ~Dict() override;
  Dict(const Dict&) = delete;
  Dict& operator=(const Dict&) = delete;

  void Release() override;
  uint16_t GetLanguage() const override;
  void SetLanguage(uint16_t id) override;
  uint16_t GetFallbackLanguage() const override;
  void SetFallbackLanguage(uint16_t id) override;
  const std::u16string& GetKeyPrefix() const override;
  void SetKeyPrefix(const std::u16string& prefix) override;
  PooledString Lookup(const std::u16string& key) override;
  PooledString LookupOrEmpty(const std::u16string& key) override;
  bool Contains(const std::u16string& key) const override;
  void AddText(const std::u16string& key, const std::u16string& text) override;
  void SetText(const std::u16string& key, const std::u16string& text) override;
  DictI* CloneDict() const override;
  void Merge(const DictI& other, bool overwrite) override;
  void AddMissing(const DictI& other, std::u16string* addedKeys) override;
  void Clear() override;
  size_t Count() const override;
  bool IsEmpty() const override;
  DictI* SubsetWithPrefix(const std::u16string& prefix) const override;
  bool ExpandReferences(std::u16string& text, const std::u16string& open,
                        const std::u16string& close) override;
  std::shared_ptr<std::vector<std::u16string>> GetExtraList() override;
  void LoadResources() override;
  std::vector<std::pair<PooledString, PooledString>> Entries() const override;

 protected:
  uint16_t language_;
  uint16_t fallbackLanguage_ = 1033;
  std::u16string keyPrefix_;
  // The pooled full key (prefix applied), or null when no entry can have it.
  PooledString FindEntryText(const std::u16string& key) const;
  PooledString AnswerKey(const std::u16string& key);
  void Put(const std::u16string& key, const std::u16string& text, bool replace);

  // Pooled key -> pooled text; both hold a reference in the pool.
  std::unordered_map<PooledString, PooledString> entries_;
  // Keys answered by Lookup for missing texts; one pool use each, dropped at destruction.
  std::unordered_map<PooledString, bool> answeredKeys_;
};

class GlobalDict : public Dict {
 public:
  GlobalDict();
  void Clear() override;
  std::shared_ptr<std::vector<std::u16string>> GetExtraList() override;

 private:
  std::u16string extraText_;
  std::shared_ptr<std::vector<std::u16string>> firstList_;
  std::shared_ptr<std::vector<std::u16string>> extraList_;
};

// The one process-wide dictionary, created on first use with language 0 (thread-safe).
// It is never destroyed, so exception texts built during static destruction still work.
GlobalDict& GetGlobalDict();

// Debug lookups: LookupOrEmpty of every dictionary answers a missing text with its key
// instead of the empty text. Off until the program hands its "dict_debug" setting here,
// once at start; any thread may read it.
void SetDebugLookups(bool on);

// Makes the global dictionary the source of exception captions ("IDS_ERROR") and of the
// language of system-error texts (utils::SetExceptionTexts). Idempotent.
void InstallExceptionTexts();

}  // namespace t9n
