#include "app/command_line.h"

#include <algorithm>

namespace app {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
  std::vector<std::u16string> elements;
  size_t i = 0;
  // A zero unit ends the command line, as it would end the C string the shell gets.
  const size_t end = std::min(commandLine.size(), commandLine.find(u'\0'));

  // The program path follows its own rules: no escapes, quotes only delimit.
  std::u16string first;
  if (i < end && commandLine[i] == u'"') {
    ++i;
    while (i < end && commandLine[i] != u'"') first += commandLine[i++];
    if (i < end) ++i;  // the closing quote
  } else {
    while (i < end && !IsBlank(commandLine[i])) first += commandLine[i++];
  }
  elements.push_back(first);
  while (i < end && IsBlank(commandLine[i])) ++i;
  if (i >= end) return elements;

  std::u16string current;
  int quoteCount = 0;      // 1 while inside quotes
  size_t backslashes = 0;  // run of backslashes just copied
  while (i < end) {
    char16_t c = commandLine[i];
    if (IsBlank(c) && quoteCount == 0) {
      elements.push_back(current);
      current.clear();
      backslashes = 0;
      while (i < end && IsBlank(commandLine[i])) ++i;
      if (i >= end) return elements;
      continue;
    }
    if (c == u'\\') {
      current += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c == u'"') {
      if (backslashes % 2 == 0) {
        current.resize(current.size() - backslashes / 2);
        ++quoteCount;
      } else {
        current.resize(current.size() - backslashes / 2 - 1);
        current += u'"';
      }
      ++i;
      backslashes = 0;
      // A run of quotes: every third one (counting the opening and this one) is a
      // literal quote.
      while (i < end && commandLine[i] == u'"') {
        if (++quoteCount == 3) {
          current += u'"';
          quoteCount = 0;
        }
        ++i;
      }
      if (quoteCount == 2) quoteCount = 0;
      continue;
    }
    current += c;
    backslashes = 0;
    ++i;
  }
  elements.push_back(current);
  return elements;
}

std::u16string PathExtension(const std::u16string& element) {
  for (size_t i = element.size(); i > 0; --i) {
    char16_t c = element[i - 1];
    if (c == u'\\' || c == u'/') return {};
    if (c == u'.') {
      if (i == element.size()) return {};
      std::u16string ext = element.substr(i);
      for (char16_t& u : ext) {
        if (u >= u'A' && u <= u'Z') u = static_cast<char16_t>(u - u'A' + u'a');
      }
      return ext;
    }
  }
  return {};
}

bool FirstElementIsProgram(const std::vector<std::u16string>& elements) {
  return !elements.empty() && PathExtension(elements.front()) == u"exe";
}

void AppendQueryParameter(std::u16string& query, const std::u16string& parameter) {
  query += query.empty() ? u'?' : u'&';
  query += parameter;
}

StartArguments ParseArguments(const std::vector<std::u16string>& arguments,
                              const std::function<bool(const std::u16string&)>& isFile) {
  StartArguments result;
  if (arguments.empty()) return result;
  if (!arguments.front().empty() && isFile(arguments.front())) {
    result.archivePath = arguments.front();
  }
  for (size_t i = 1; i < arguments.size(); ++i) AppendQueryParameter(result.query, arguments[i]);
  return result;
}

StartArguments ParseCommandLineElements(const std::vector<std::u16string>& elements,
                                        const std::function<bool(const std::u16string&)>& isFile) {
  if (elements.empty()) return {};
  size_t first = FirstElementIsProgram(elements) ? 1 : 0;
  return ParseArguments(std::vector<std::u16string>(elements.begin() + first, elements.end()),
                        isFile);
}

}  // namespace app
