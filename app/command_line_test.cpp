#include "app/command_line.h"

#include <gtest/gtest.h>

#include <set>

namespace app {
namespace {

using Elements = std::vector<std::u16string>;

TEST(SplitCommandLine, ShellRules) {
  struct Case {
    std::u16string line;
    Elements expected;
  } cases[] = {
      {u"\"C:\\Program Files\\run.exe\" a b", {u"C:\\Program Files\\run.exe", u"a", u"b"}},
      // The program path takes no escapes and ends at the next quote.
      {u"\"C:\\a\\\" b", {u"C:\\a\\", u"b"}},
      {u"\"C:\\x y\"z w", {u"C:\\x y", u"z", u"w"}},
      {u"prog a\\\\\\b d\"e f\"g h", {u"prog", u"a\\\\\\b", u"de fg", u"h"}},
      {u"prog a\\\\\\\"b c d", {u"prog", u"a\\\"b", u"c", u"d"}},
      {u"prog a\\\\\\\\\"b c\" d e", {u"prog", u"a\\\\b c", u"d", u"e"}},
      // The shell's rule (older than the C run-time's): a doubled quote inside quotes
      // is a literal quote and ends the quoted part.
      {u"prog a\"b\"\" c d", {u"prog", u"ab\"", u"c", u"d"}},
      {u"prog \"a\"\"\"b\"", {u"prog", u"a\"b"}},
      {u"prog \"\" x", {u"prog", u"", u"x"}},
      {u"prog \t a=1\t\tb=2 ", {u"prog", u"a=1", u"b=2"}},
      {u"prog trailing\\", {u"prog", u"trailing\\"}},
      {std::u16string(u"prog a\0b", 8), {u"prog", u"a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.expected) << std::string(c.line.begin(), c.line.end());
  }
}

TEST(PathExtension, BackwardSearchStopsAtSeparators) {
  struct Case {
    std::u16string element;
    std::u16string extension;
  } cases[] = {
      {u"C:\\x\\RUN.EXE", u"exe"},
      {u"dir.exe\\run", u""},
      {u"dir.exe/run", u""},
      {u"run.", u""},
      {u"run", u""},
      {u"a.b.ZIP", u"zip"},
      {u".exe", u"exe"},
      {u"", u""},
      {u"x/.y/z.exe", u"exe"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathExtension(c.element), c.extension)
        << std::string(c.element.begin(), c.element.end());
  }
}

TEST(ParseCommandLineElements, ExeRuleArchiveCandidateAndQuery) {
  std::set<std::u16string> files = {u"content.zip", u"C:\\data\\other.bin"};
  auto isFile = [&files](const std::u16string& path) { return files.count(path) > 0; };
  struct Case {
    Elements elements;
    std::u16string archive;
    std::u16string query;
  } cases[] = {
      {{}, u"", u""},
      {{u"run.exe"}, u"", u""},
      {{u"run.exe", u"content.zip", u"a=1", u"b=2"}, u"content.zip", u"?a=1&b=2"},
      // A missing file is dropped and never joins the query.
      {{u"run.exe", u"missing.zip", u"a=1"}, u"", u"?a=1"},
      {{u"RUN.EXE", u"a=1"}, u"", u""},
      // Without the program's own name in front, the first element is the candidate.
      {{u"content.zip", u"x"}, u"content.zip", u"?x"},
      {{u"C:\\data\\other.bin"}, u"C:\\data\\other.bin", u""},
      {{u"runner", u"content.zip", u"a"}, u"", u"?content.zip&a"},
      {{u"run.exe", u"", u"a", u"", u"b&c"}, u"", u"?a&&b&c"},
      // Parameters are copied verbatim.
      {{u"x", u"q=a b", u"p=%20&z", u"\u00e9=\u4e2d"}, u"", u"?q=a b&p=%20&z&\u00e9=\u4e2d"},
  };
  for (const Case& c : cases) {
    StartArguments parsed = ParseCommandLineElements(c.elements, isFile);
    EXPECT_EQ(parsed.archivePath, c.archive);
    EXPECT_EQ(parsed.query, c.query);
  }
}

}  // namespace
}  // namespace app
