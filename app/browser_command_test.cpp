#include "app/browser_command.h"

#include <gtest/gtest.h>

namespace app {
namespace {

using Words = std::vector<std::string>;

TEST(SplitShellWords, PosixQuoting) {
  struct Case {
    std::string text;
    bool ok;
    Words words;
  } cases[] = {
      {"  a   b\tc ", true, {"a", "b", "c"}},
      {"'my browser' x''y", true, {"my browser", "xy"}},
      {"\"a \\\"b\\\" \\x\" c\\ d", true, {"a \"b\" \\x", "c d"}},
      {"''", true, {""}},
      {"'unterminated", false, {}},
      {"\"unterminated", false, {}},
      {"trailing\\", false, {}},
  };
  for (const Case& c : cases) {
    Words words = {"left over"};
    EXPECT_EQ(SplitShellWords(c.text, words), c.ok) << c.text;
    EXPECT_EQ(words, c.words) << c.text;
  }
}

TEST(BrowserCommands, ReadLikePythonsWebbrowser) {
  const std::string url = "http://localhost:9/p/index.html?a=1&show=x";
  struct Case {
    std::string variable;
    std::vector<Words> commands;
  } cases[] = {
      {"", {}},
      {"::firefox:chromium", {{"firefox", url}, {"chromium", url}}},
      {"x --url=%s --again=%s", {{"x", "--url=" + url, "--again=" + url}}},
      {"lynx %s &", {{"lynx", url}}},
      {"'broken:ok", {{"ok", url}}},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserCommands(c.variable, url), c.commands) << c.variable;

  // The URL's own "%s" must not be replaced again.
  const std::string percent = "http://h/index.html?q=%sx";
  EXPECT_EQ(BrowserCommands("b %s", percent), (std::vector<Words>{{"b", percent}}));
  EXPECT_EQ(DefaultBrowserCommand(percent, false), (Words{"xdg-open", percent}));
  EXPECT_EQ(DefaultBrowserCommand(percent, true), (Words{"open", percent}));
}

}  // namespace
}  // namespace app
