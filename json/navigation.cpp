#include "json/navigation.h"

#include <memory>

#include "json/parser.h"
#include "json/value.h"
#include "utils/encoding.h"
#include "utils/exception.h"

namespace json {

bool RewriteNavigation(const utils::SharedPtr<utils::ReadStreamI>& stream,
                       const NavigationMembers& members, std::string& bytes) {
  bytes.clear();
  if (members.empty() || !stream) return false;
  std::unique_ptr<Value> root;
  ParseError error;  // a partly read document is still rewritten, as its root stands
  try {
    root.reset(ParseStream(stream, error));
  } catch (const utils::Exception&) {
    // A document in an encoding we cannot read is no reason to fail the response: it
    // goes out as stored.
    root.reset();
  }
  if (!root || root->tag != kDictTag) {
    stream->Seek64(0, 0);
    return false;
  }
  Dict& dict = static_cast<Dict&>(*root);
  for (const auto& [name, value] : members) dict.Set(name, new String(value));
  std::u16string text;
  WriteFormat compact(2);
  dict.Write(text, compact);
  bytes = utils::WideToUtf8(text);
  return true;
}

utils::SharedPtr<utils::ReadStreamI> TransformNavigation(
    const utils::SharedPtr<utils::ReadStreamI>& stream, const NavigationMembers& members) {
  std::string bytes;
  if (!RewriteNavigation(stream, members, bytes)) return stream;
  utils::SharedPtr<utils::ByteVector> data(new utils::ByteVector(bytes.begin(), bytes.end()));
  return utils::SharedPtr<utils::ReadStreamI>(
      new utils::MemoryStreamReader(data, stream->GetName()));
}

}  // namespace json
