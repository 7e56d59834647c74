// NavigationProvider: a provider that serves another provider's content, with every
// navigation document ("application/x-morvane-navigation") passed through the
// navigation rewrite on its way out (json/navigation.h).
//
// With no members, the default, documents go out as stored. Network thread only, like
// the provider it wraps (which it does not own).
#pragma once

#include <string>
#include <utility>

#include "httpserver/http_stream_provider.h"
#include "json/navigation.h"

namespace storage {

class NavigationProvider : public HttpStreamProviderI {
 public:
  NavigationProvider(HttpStreamProviderI& inner, json::NavigationMembers members)
      : inner_(inner), members_(std::move(members)) {}

  // The inner provider's reply; a rewritten navigation document gets the new stream and
  // its "Content-Length".
  ProviderReply Open(const std::string& path) override;
  utils::SharedPtr<utils::ReadStreamI> PostStream(const std::string& path, const std::string& body,
                                                  int32_t& status,
                                                  const std::u16string& contentTypeLine) override {
    return inner_.PostStream(path, body, status, contentTypeLine);
  }

 private:
  HttpStreamProviderI& inner_;
  json::NavigationMembers members_;
};

}  // namespace storage
