#include "content/navigation_provider.h"

namespace storage {

ProviderReply NavigationProvider::Open(const std::string& path) {
  ProviderReply reply = inner_.Open(path);
  if (reply.head.status != 200 || !reply.stream || members_.empty() ||
      reply.head.Get("Content-Type") != "application/x-morvane-navigation") {
    return reply;
  }
  reply.stream = json::TransformNavigation(reply.stream, members_);
  reply.head.Set("Content-Length", std::to_string(reply.stream->GetSize()));
  return reply;
}

}  // namespace storage
