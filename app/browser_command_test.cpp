#include "app/browser_command.h"

#include <gtest/gtest.h>

#include <tuple>

namespace app {
namespace {

using Words = std::vector<std::string>;

TEST(SplitShellWords, PosixQuoting) {
  // The text, whether it splits, and its words.
  const std::tuple<std::string, bool, Words> cases[] = {
      {"  a   b\tc ", true, {"a", "b", "c"}},
      {"'my browser' x''y", true, {"my browser", "xy"}},
      {"\"a \\\"b\\\" \\x\" c\\ d", true, {"a \"b\" \\x", "c d"}},
      {"''", true, {""}},
      {"'unterminated", false, {}},
      {"\"unterminated", false, {}},
      {"trailing\\", false, {}},
  };
  for (const auto& [text, ok, expected] : cases) {
    Words words = {"left over"};
    EXPECT_EQ(SplitShellWords(text, words), ok) << text;
    EXPECT_EQ(words, expected) << text;
  }
}

TEST(BrowserCommands, ReadLikePythonsWebbrowser) {
  const std::string url = "http://localhost:9/p/index.html?a=1&show=x";
  const std::pair<std::string, std::vector<Words>> cases[] = {
      {"", {}},
      {"::firefox:chromium", {{"firefox", url}, {"chromium", url}}},
      {"x --url=%s --again=%s", {{"x", "--url=" + url, "--again=" + url}}},
      {"lynx %s &", {{"lynx", url}}},
      {"'broken:ok", {{"ok", url}}},
  };
  for (const auto& [variable, commands] : cases) {
    EXPECT_EQ(BrowserCommands(variable, url), commands) << variable;
  }

  // The URL's own "%s" must not be replaced again.
  const std::string percent = "http://h/index.html?q=%sx";
  EXPECT_EQ(BrowserCommands("b %s", percent), (std::vector<Words>{{"b", percent}}));
  EXPECT_EQ(DefaultBrowserCommand(percent, false), (Words{"xdg-open", percent}));
  EXPECT_EQ(DefaultBrowserCommand(percent, true), (Words{"open", percent}));
}

}  // namespace
}  // namespace app
