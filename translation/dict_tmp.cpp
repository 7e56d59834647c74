#include "translation/dict.h"
namespace t9n {
Dict::Dict(uint16_t l) : language_(l) {}
Dict::~Dict() {}
void Dict::Release() {}
uint16_t Dict::GetLanguage() const { return language_; }
void Dict::SetLanguage(uint16_t) {}
uint16_t Dict::GetFallbackLanguage() const { return 0; }
void Dict::SetFallbackLanguage(uint16_t) {}
const std::u16string& Dict::GetKeyPrefix() const { return keyPrefix_; }
void Dict::SetKeyPrefix(const std::u16string&) {}
PooledString Dict::Lookup(const std::u16string&) { return u""; }
PooledString Dict::LookupOrEmpty(const std::u16string&) { return u""; }
bool Dict::Contains(const std::u16string&) const { return false; }
void Dict::AddText(const std::u16string&, const std::u16string&) {}
void Dict::SetText(const std::u16string&, const std::u16string&) {}
DictI* Dict::CloneDict() const { return nullptr; }
void Dict::Merge(const DictI&, bool) {}
void Dict::AddMissing(const DictI&, std::u16string*) {}
void Dict::Clear() {}
size_t Dict::Count() const { return 0; }
bool Dict::IsEmpty() const { return true; }
DictI* Dict::SubsetWithPrefix(const std::u16string&) const { return nullptr; }
bool Dict::ExpandReferences(std::u16string&, const std::u16string&, const std::u16string&) { return false; }
std::shared_ptr<std::vector<std::u16string>> Dict::GetExtraList() { return nullptr; }
void Dict::LoadResources() {}
std::vector<std::pair<PooledString, PooledString>> Dict::Entries() const { return {}; }
GlobalDict::GlobalDict() : Dict(0) {}
void GlobalDict::Clear() {}
std::shared_ptr<std::vector<std::u16string>> GlobalDict::GetExtraList() { return nullptr; }
GlobalDict& GetGlobalDict() { static GlobalDict d; return d; }
}
