// storage::HttpStreamProviderI: where the server's content comes from.
//
// The server calls a provider on its network thread only, one request at a time. Paths
// arrive percent-decoded, without query, leading '/' or run prefix.
#pragma once

#include <cstdint>
#include <string>

#include "httpserver/http_message.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace storage {

class HttpStreamProviderI {
 public:
  virtual ~HttpStreamProviderI() = default;
  // The data of path. An empty pointer makes the server answer with status alone.
  // When GetInfo answered 501, streamHeaders becomes the response.
  virtual utils::SharedPtr<utils::ReadStreamI> GetStream(const std::string& path, int32_t& status,
                                                         HttpMessage& streamHeaders) = 0;
  // 200 or 206: available (the provider may Set headers on response); 501: available,
  // headers from GetStream; anything else is sent back as a status response.
  virtual int32_t GetInfo(const std::string& path, HttpMessage& response) = 0;
  // Posted data. This default answers nothing: status 200, empty pointer.
  virtual utils::SharedPtr<utils::ReadStreamI> PostStream(const std::string& path,
                                                          const std::string& body, int32_t& status,
                                                          const std::u16string& contentTypeLine) {
    status = 200;
    return utils::SharedPtr<utils::ReadStreamI>();
  }
};

}  // namespace storage
