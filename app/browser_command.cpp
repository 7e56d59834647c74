#include "app/browser_command.h"

namespace app {

std::u16string MakeStartUrl(const std::u16string& baseUrl, const std::u16string& query) {
  return baseUrl + u"index.html" + query;
}

bool SplitShellWords(const std::string& text, std::vector<std::string>& words) {
  words.clear();
  std::string word;
  bool inWord = false;
  size_t i = 0;
  auto fail = [&words] {
    words.clear();
    return false;
  };
  while (i < text.size()) {
    char c = text[i++];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (i >= text.size()) return fail();
      word += text[i++];
    } else if (c == '\'') {
      size_t close = text.find('\'', i);
      if (close == std::string::npos) return fail();
      word.append(text, i, close - i);
      i = close + 1;
    } else if (c == '"') {
      for (;;) {
        if (i >= text.size()) return fail();
        char q = text[i++];
        if (q == '"') break;
        // Inside double quotes a backslash escapes only these characters.
        if (q == '\\' && i < text.size() &&
            std::string("\\\"$`\n").find(text[i]) != std::string::npos) {
          q = text[i++];
        }
        word += q;
      }
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

std::vector<std::vector<std::string>> BrowserCommands(const std::string& browserVariable,
                                                      const std::string& url) {
  std::vector<std::vector<std::string>> commands;
  size_t start = 0;
  while (start <= browserVariable.size()) {
    size_t end = browserVariable.find(':', start);
    if (end == std::string::npos) end = browserVariable.size();
    std::string entry = browserVariable.substr(start, end - start);
    start = end + 1;
    std::vector<std::string> words;
    if (entry.empty() || !SplitShellWords(entry, words) || words.empty()) continue;
    if (words.back() == "&") words.pop_back();
    if (words.empty()) continue;
    if (entry.find("%s") != std::string::npos) {
      for (std::string& w : words) {
        for (size_t at = w.find("%s"); at != std::string::npos;
             at = w.find("%s", at + url.size())) {
          w.replace(at, 2, url);
        }
      }
    } else {
      words.push_back(url);
    }
    commands.push_back(std::move(words));
  }
  return commands;
}

std::vector<std::string> DefaultBrowserCommand(const std::string& url, bool macOs) {
  return {macOs ? "open" : "xdg-open", url};
}

}  // namespace app
