#include "app/command_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace app {
namespace {

using Elements = std::vector<std::u16string>;

TEST(SplitCommandLine, ShellRules) {
  const std::pair<std::u16string, Elements> cases[] = {
      // The program path takes no escapes and ends at the next quote.
      {u"\"C:\\Program Files\\\" a b", {u"C:\\Program Files\\", u"a", u"b"}},
      {u"prog a\\\\\\b d\"e f\"g h", {u"prog", u"a\\\\\\b", u"de fg", u"h"}},
      {u"prog a\\\\\\\"b c d", {u"prog", u"a\\\"b", u"c", u"d"}},
      {u"prog a\\\\\\\\\"b c\" d e", {u"prog", u"a\\\\b c", u"d", u"e"}},
      // The shell's rule (older than the C run-time's): a doubled quote inside quotes
      // is a literal quote and ends the quoted part.
      {u"prog a\"b\"\" c d", {u"prog", u"ab\"", u"c", u"d"}},
      {u"prog \"a\"\"\"b\"", {u"prog", u"a\"b"}},
      {u"prog \"\" \t a=1\t\tb=2 ", {u"prog", u"", u"a=1", u"b=2"}},
      {u"prog trailing\\", {u"prog", u"trailing\\"}},
      {std::u16string(u"prog a\0b", 8), {u"prog", u"a"}},
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(line), expected) << std::string(line.begin(), line.end());
  }
}

TEST(ParseCommandLineElements, ExeRuleArchiveCandidateAndQuery) {
  auto isFile = [](const std::u16string& path) { return path == u"content.zip"; };
  // The elements, the archive path and the query.
  const std::tuple<Elements, std::u16string, std::u16string> cases[] = {
      {{}, u"", u""},
      {{u"run.exe", u"content.zip", u"a=1", u"b=2"}, u"content.zip", u"?a=1&b=2"},
      // A missing file is dropped and never joins the query.
      {{u"run.exe", u"missing.zip", u"a=1"}, u"", u"?a=1"},
      {{u"C:\\x\\A.B.EXE", u"a=1"}, u"", u""},
      // The extension is searched for backwards and not beyond a folder separator.
      {{u"x.exe\\run", u"content.zip"}, u"", u"?content.zip"},
      {{u"x.exe/run.", u"content.zip"}, u"", u"?content.zip"},
      // Without the program's own name in front, the first element is the candidate.
      {{u"content.zip", u"x"}, u"content.zip", u"?x"},
      {{u"runner", u"content.zip", u"a"}, u"", u"?content.zip&a"},
      // Parameters are copied verbatim.
      {{u"run.exe", u"", u"q=a b", u"", u"p=%20&\u00e9"}, u"", u"?q=a b&&p=%20&\u00e9"},
  };
  for (const auto& [elements, archive, query] : cases) {
    StartArguments parsed = ParseCommandLineElements(elements, isFile);
    EXPECT_EQ(parsed.archivePath, archive);
    EXPECT_EQ(parsed.query, query);
  }
}

}  // namespace
}  // namespace app
