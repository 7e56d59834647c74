#include "translation/dict.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "translation/string_pool.h"
#include "utils/exception.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif

namespace t9n {
namespace {

struct Releaser {
  void operator()(DictI* d) const { d->Release(); }
};
using DictPtr = std::unique_ptr<DictI, Releaser>;

class DictTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Settings from the machine must not switch "dict_debug" on for these tests.
#ifdef _WIN32
    std::system("reg delete HKCU\\SOFTWARE\\Trellium\\Expert /v dict_debug /f >NUL 2>&1");
#else
    setenv("XDG_CONFIG_HOME", "/nonexistent-cx-config", 1);
#endif
  }
};

TEST_F(DictTest, MissingKeysAnswerThemselvesWithTheSamePointer) {
  Dict dict(1031);
  PooledString first = dict.Lookup(u"IDS_NOT_THERE");
  PooledString second = dict.Lookup(u"IDS_NOT_THERE");
  EXPECT_EQ(std::u16string(first), u"IDS_NOT_THERE");
  EXPECT_EQ(first, second);
  EXPECT_EQ(StringPool::UseCount(first), 1u);  // repeated lookups hold one use
  EXPECT_EQ(dict.Lookup(u""), StringPool::Empty());
  EXPECT_FALSE(dict.Contains(u"IDS_NOT_THERE"));
  EXPECT_EQ(dict.Count(), 0u);
  // Without the debug switch LookupOrEmpty answers a missing key with the empty text.
  dict.SetText(u"IDS_HELLO", u"Hello");
  EXPECT_EQ(std::u16string(dict.LookupOrEmpty(u"IDS_HELLO")), u"Hello");
  EXPECT_EQ(dict.LookupOrEmpty(u"IDS_ABSENT"), StringPool::Empty());
  EXPECT_EQ(GetGlobalDict().LookupOrEmpty(u"IDS_ERROR"), StringPool::Empty());
  // Found texts are pooled: equal texts of two dictionaries are one copy.
  Dict other(0);
  other.SetText(u"other", u"Hello");
  EXPECT_EQ(dict.Lookup(u"IDS_HELLO"), other.Lookup(u"other"));
  EXPECT_EQ(StringPool::UseCount(other.Lookup(u"other")), 2u);
}

TEST_F(DictTest, PrefixIsPutInFrontOfLookups) {
  Dict dict(0);
  dict.SetText(u"app.title", u"Title");
  dict.SetKeyPrefix(u"app.");
  EXPECT_EQ(std::u16string(dict.Lookup(u"title")), u"Title");
  EXPECT_FALSE(dict.Contains(u"app.title"));
  EXPECT_EQ(std::u16string(dict.Lookup(u"missing")), u"app.missing");
  EXPECT_EQ(std::u16string(dict.Lookup(u"")), u"app.");
}

TEST_F(DictTest, AddKeepsAndSetReplacesReleasingTheOldText) {
  Dict dict(0);
  dict.AddText(u"k", u"first-unique-text");
  dict.AddText(u"k", u"second-unique-text");
  EXPECT_EQ(std::u16string(dict.Lookup(u"k")), u"first-unique-text");
  EXPECT_EQ(StringPool::Find(u"second-unique-text"), nullptr);
  dict.SetText(u"k", u"third-unique-text");
  EXPECT_EQ(std::u16string(dict.Lookup(u"k")), u"third-unique-text");
  EXPECT_EQ(StringPool::Find(u"first-unique-text"), nullptr);
  EXPECT_EQ(StringPool::UseCount(StringPool::Find(u"k")), 1u);
}

TEST_F(DictTest, DestructionAndClearGiveEverythingBack) {
  size_t before = StringPool::Size();
  {
    Dict dict(0);
    dict.SetText(u"clear-key-1", u"clear-text-1");
    dict.SetText(u"clear-key-2", u"clear-text-2");
    dict.SetKeyPrefix(u"clear-");
    dict.Lookup(u"missing");
    EXPECT_EQ(StringPool::Size(), before + 5);
    dict.Clear();
    EXPECT_TRUE(dict.IsEmpty());
    EXPECT_EQ(dict.GetKeyPrefix(), u"");
    // The answered missing key stays valid until the dictionary goes.
    EXPECT_NE(StringPool::Find(u"clear-missing"), nullptr);
    EXPECT_EQ(StringPool::Size(), before + 1);
  }
  EXPECT_EQ(StringPool::Size(), before);
}

TEST_F(DictTest, CloneAndSubsetAreIndependentCopies) {
  Dict dict(1036);
  dict.SetFallbackLanguage(1031);
  dict.SetText(u"menu.open", u"Open");
  dict.SetText(u"menu.quit", u"Quit");
  dict.SetText(u"title", u"Title");
  DictPtr clone(dict.CloneDict());
  EXPECT_EQ(clone->GetFallbackLanguage(), 1031);
  clone->SetText(u"title", u"Other");
  EXPECT_EQ(std::u16string(dict.Lookup(u"title")), u"Title");

  DictPtr subset(dict.SubsetWithPrefix(u"menu."));
  EXPECT_EQ(subset->Count(), 2u);
  EXPECT_EQ(std::u16string(subset->Lookup(u"quit")), u"Quit");
  EXPECT_FALSE(subset->Contains(u"title"));
  dict.Clear();
  EXPECT_EQ(std::u16string(subset->Lookup(u"open")), u"Open");
}

TEST_F(DictTest, MergeAndAddMissing) {
  Dict target(0), source(0);
  target.SetText(u"a", u"A-target");
  source.SetText(u"a", u"A-source");
  source.SetText(u"b", u"B-source");
  target.Merge(source, false);
  EXPECT_EQ(std::u16string(target.Lookup(u"a")), u"A-target");
  EXPECT_EQ(std::u16string(target.Lookup(u"b")), u"B-source");
  target.Merge(source, true);
  EXPECT_EQ(std::u16string(target.Lookup(u"a")), u"A-source");

  Dict other(0);
  other.SetText(u"a", u"A-other");
  other.SetText(u"c", u"C");
  other.SetText(u"d", u"D");
  std::u16string added;
  target.AddMissing(other, &added);
  EXPECT_EQ(std::u16string(target.Lookup(u"a")), u"A-source");
  EXPECT_EQ(target.Count(), 4u);
  EXPECT_TRUE(added == u"c d " || added == u"d c ") << std::string(added.begin(), added.end());
}

TEST_F(DictTest, ExpandReferences) {
  Dict dict(0);
  dict.SetText(u"name", u"Bob");
  dict.SetText(u"self", u"{self}");
  std::u16string text = u"Hi {name}, {missing} {name}{self}{";
  EXPECT_TRUE(dict.ExpandReferences(text, u"{", u"}"));
  EXPECT_EQ(text, u"Hi Bob, {missing} Bob{self}{");

  std::u16string none = u"{missing} [name]";
  EXPECT_FALSE(dict.ExpandReferences(none, u"{", u"}"));
  EXPECT_FALSE(dict.ExpandReferences(none, u"", u"}"));

  // At most 100 references per call.
  std::u16string many;
  for (int i = 0; i < 150; ++i) many += u"<<name>>";
  EXPECT_TRUE(dict.ExpandReferences(many, u"<<", u">>"));
  std::u16string expected;
  for (int i = 0; i < 100; ++i) expected += u"Bob";
  for (int i = 0; i < 50; ++i) expected += u"<<name>>";
  EXPECT_EQ(many, expected);
}

TEST_F(DictTest, OtherDictionariesFallBackOnTheGlobalOne) {
  GlobalDict& global = GetGlobalDict();
  EXPECT_EQ(global.GetFallbackLanguage(), 1033);
  global.SetText(u"product", u"Trellium Player");
  Dict local(0);
  local.SetText(u"greeting", u"Welcome to %product%");
  std::u16string text = u"%greeting%";
  EXPECT_TRUE(local.ExpandReferences(text, u"%", u"%"));
  EXPECT_EQ(text, u"Welcome to Trellium Player");
  global.Clear();
  EXPECT_TRUE(global.IsEmpty());
}

TEST_F(DictTest, OnlyTheGlobalDictionaryKeepsItsExtraList) {
  Dict dict(0);
  EXPECT_NE(dict.GetExtraList(), dict.GetExtraList());
  GlobalDict& global = GetGlobalDict();
  auto list = global.GetExtraList();
  EXPECT_EQ(list, global.GetExtraList());
  list->push_back(u"entry");
  global.Clear();
  EXPECT_TRUE(global.GetExtraList()->empty());
}

// "dict_debug" is read once per process, so it is tested in a child process of its own.
TEST(DictDebugDeathTest, MissingTextsAnswerTheirKeysWhenTheSwitchIsOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifndef _WIN32
  char tmpl[] = "/tmp/cx-dict-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
#endif
  EXPECT_EXIT(
      {
#ifdef _WIN32
        std::system(
            "reg add HKCU\\SOFTWARE\\Trellium\\Expert /v dict_debug /t REG_DWORD /d 1 /f "
            ">NUL 2>&1");
#else
        std::filesystem::create_directories(dir + "/Trellium");
        std::ofstream(dir + "/Trellium/Expert") << "dict_debug=1\n";
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
#endif
        PooledString text = GetGlobalDict().LookupOrEmpty(u"IDS_ERROR");
        bool keyed = std::u16string(text) == u"IDS_ERROR";
        Dict dict(0);
        bool empty = dict.LookupOrEmpty(u"") == StringPool::Empty();
        std::exit(keyed && empty ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
#ifdef _WIN32
  std::system("reg delete HKCU\\SOFTWARE\\Trellium\\Expert /v dict_debug /f >NUL 2>&1");
#else
  std::filesystem::remove_all(dir);
#endif
}

}  // namespace
}  // namespace t9n
