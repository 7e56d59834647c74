#include "translation/dict.h"

#include <gtest/gtest.h>

#include <string>

#include "translation/string_pool.h"
#include "utils/exception.h"

namespace t9n {
namespace {

std::u16string S(PooledString text) { return text; }

TEST(Dict, LookupsAddSetAndClearHoldAndReleasePooledTexts) {
  size_t before = StringPool::Size();
  {
    Dict dict(1031);
    PooledString first = dict.Lookup(u"IDS_NOT_THERE");  // a missing key answers itself
    EXPECT_EQ(S(first), u"IDS_NOT_THERE");
    EXPECT_EQ(dict.Lookup(u"IDS_NOT_THERE"), first);
    EXPECT_EQ(StringPool::UseCount(first), 1u);  // repeated lookups hold one use
    EXPECT_EQ(dict.Lookup(u""), StringPool::Empty());
    EXPECT_EQ(dict.Count(), 0u);
    // Without the debug switch LookupOrEmpty answers a missing key with the empty text.
    EXPECT_EQ(dict.LookupOrEmpty(u"IDS_ABSENT"), StringPool::Empty());
    EXPECT_EQ(GetGlobalDict().LookupOrEmpty(u"IDS_ERROR"), StringPool::Empty());

    dict.AddText(u"app.k", u"first-unique-text");
    dict.AddText(u"app.k", u"second-unique-text");  // Add keeps the text there
    EXPECT_EQ(StringPool::Find(u"second-unique-text"), nullptr);
    dict.SetText(u"app.k", u"third-unique-text");  // Set replaces it, releasing the old one
    EXPECT_EQ(StringPool::Find(u"first-unique-text"), nullptr);
    dict.SetKeyPrefix(u"app.");
    EXPECT_EQ(S(dict.LookupOrEmpty(u"k")), u"third-unique-text");
    EXPECT_FALSE(dict.Contains(u"app.k"));
    EXPECT_EQ(S(dict.Lookup(u"missing")), u"app.missing");
    // Found texts are pooled: equal texts of two dictionaries are one copy.
    Dict other(0);
    other.SetText(u"other", u"third-unique-text");
    EXPECT_EQ(StringPool::UseCount(other.Lookup(u"other")), 2u);
    // Two answered keys, two entry keys and one shared text.
    EXPECT_EQ(StringPool::Size(), before + 5);
    dict.Clear();
    EXPECT_TRUE(dict.IsEmpty());
    EXPECT_EQ(dict.GetKeyPrefix(), u"");
    // The answered missing keys stay valid until the dictionary goes.
    EXPECT_NE(StringPool::Find(u"app.missing"), nullptr);
    EXPECT_EQ(StringPool::Size(), before + 4) << "only the key \"app.k\" went";
  }
  EXPECT_EQ(StringPool::Size(), before);
}

TEST(Dict, ExpandReferencesHereAndInTheGlobalDictionary) {
  Dict dict(0);
  dict.SetText(u"name", u"Bob");
  dict.SetText(u"self", u"{self}");
  std::u16string text = u"Hi {name}, {missing} {name}{self}{";
  EXPECT_TRUE(dict.ExpandReferences(text, u"{", u"}"));
  EXPECT_EQ(text, u"Hi Bob, {missing} Bob{self}{");

  std::u16string none = u"{missing}";
  EXPECT_FALSE(dict.ExpandReferences(none, u"{", u"}"));
  EXPECT_FALSE(dict.ExpandReferences(text, u"", u"}"));

  // At most 100 references per call.
  std::u16string many, expected;
  for (int i = 0; i < 150; ++i) {
    many += u"<<name>>";
    expected += i < 100 ? u"Bob" : u"<<name>>";
  }
  EXPECT_TRUE(dict.ExpandReferences(many, u"<<", u">>"));
  EXPECT_EQ(many, expected);

  // Other dictionaries fall back on the global one.
  GlobalDict& global = GetGlobalDict();
  EXPECT_EQ(global.GetFallbackLanguage(), 1033);
  global.SetText(u"product", u"Trellium Player");
  dict.SetText(u"greeting", u"Welcome to %product%");
  text = u"%greeting%";
  EXPECT_TRUE(dict.ExpandReferences(text, u"%", u"%"));
  EXPECT_EQ(text, u"Welcome to Trellium Player");
  global.Clear();
  EXPECT_TRUE(global.IsEmpty());
}

// Debug lookups answer keys; installed, the global dictionary gives exception captions.
TEST(DictDebug, MissingTextsAnswerKeysAndExceptionsTakeTheirCaption) {
  struct Untyped : utils::Exception {
    using Exception::Exception;
    const char16_t* GetTypeName() const override { return u""; }
  };
  const Untyped e(u"", u"File::Flush");
  EXPECT_EQ(e.GetText(), u"Exception in 'File::Flush'") << "no texts installed";
  SetDebugLookups(true);
  EXPECT_EQ(S(Dict(0).LookupOrEmpty(u"IDS_ABSENT")), u"IDS_ABSENT");
  EXPECT_EQ(Dict(0).LookupOrEmpty(u""), StringPool::Empty());
  InstallExceptionTexts();
  EXPECT_EQ(e.GetText(), u"IDS_ERROR in 'File::Flush'");
  SetDebugLookups(false);
  EXPECT_EQ(e.GetText(), u"Exception in 'File::Flush'") << "an empty caption falls back";
  GetGlobalDict().SetText(u"IDS_ERROR", u"Fehler");
  GetGlobalDict().SetLanguage(1031);
  EXPECT_EQ(e.GetText(), u"Fehler in 'File::Flush'");
  EXPECT_EQ(utils::GetExceptionTexts()->Language(), 1031);
  GetGlobalDict().Clear();
  GetGlobalDict().SetLanguage(0);
  utils::SetExceptionTexts(nullptr);
}

}  // namespace
}  // namespace t9n
