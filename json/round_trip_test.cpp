// Round trips of real JSON: documents that Python's json module wrote (in every layout
// and with every byte-order mark) and the JSON files the system ships under /usr/share,
// each checked against Python's own reading of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "json/parser.h"
#include "testing/json_util.h"
#include "utils/encoding.h"
#include "utils/file/streams.h"

namespace json {
namespace {

namespace fs = std::filesystem;
using testing::Canonical;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RoundTrip, PythonDocumentsAndShippedFiles) {
  // The corpus: CX_JSON_CORPUS when given (a Windows build under Wine cannot run Python),
  // else one made now by testdata/make_corpus.py and removed afterwards.
  const char* given = std::getenv("CX_JSON_CORPUS");
  const char* source = std::getenv("CX_SOURCE_DIR");
  fs::path corpus = given ? given : "";
  struct Made {
    fs::path path;
    ~Made() {
      std::error_code ec;
      if (!path.empty()) fs::remove_all(path, ec);
    }
  } made;
  if (!given && source) {
    made.path = fs::temp_directory_path() / ("cx_json_" + std::to_string(std::random_device()()));
    std::string script = (fs::path(source) / "json/testdata/make_corpus.py").string();
    std::string command = "python3 \"" + script + "\" \"" + made.path.string() + "\" >/dev/null";
    if (std::system(command.c_str()) == 0) corpus = made.path;
  }
  if (corpus.empty() || !fs::is_directory(corpus))
    GTEST_SKIP() << "no corpus: python3 cannot run here and CX_JSON_CORPUS is not set";
  int generated = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".json") continue;
    std::string name = entry.path().filename().string();
    generated += name.rfind("gen", 0) == 0;
    SCOPED_TRACE(name);
    std::u16string expected =
        utils::Utf8ToWide(Slurp(fs::path(entry.path()).replace_extension(".expected")));

    ParseError error;
    std::unique_ptr<Value> root(ParseStream(
        utils::SharedPtr<utils::ReadStreamI>(new utils::ReadFileStream(entry.path().u16string())),
        error));
    ASSERT_EQ(error.code, kNoError) << "at " << error.position;
    ASSERT_EQ(Canonical(root.get()), expected);

    // Written back in each layout and read again, the tree is the same (numbers were
    // already reduced to what the writer keeps).
    for (int style = 0; style <= 2; ++style) {
      std::u16string text;
      WriteFormat format(style);
      root->Write(text, format);
      ParseError again;
      std::unique_ptr<Value> back(Parse(text, again));
      ASSERT_EQ(again.code, kNoError) << "style " << style;
      EXPECT_EQ(again.position, text.size());
      EXPECT_EQ(Canonical(back.get()), expected) << "style " << style;
    }
  }
  EXPECT_EQ(generated, 60);
}

}  // namespace
}  // namespace json
