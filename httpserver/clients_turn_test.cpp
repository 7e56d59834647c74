// A server whose send budget per event is larger than the CRC-32's check-ahead step: a
// stored entry read from its file still goes to the socket only as far as the check has
// vouched for it, so an entry with one wrong byte never gets its last byte out.
#include <gtest/gtest.h>

#include "testing/clients_fixture.h"
#include "testing/test_client.h"

namespace storage::clients {
namespace {

TEST(ClientsFileTest, ALargeSendTurnStillWaitsForTheCrc) {
  const std::string bad = ScriptText(3u << 20);
  ServedContent content({{"media/bad.bin", bad}}, ServedContent::FromFile{"media/bad.bin", 8u << 20});
  ASSERT_TRUE(content.Ok());
  const test::ClientSocket s = test::Connect(content.Port());
  ASSERT_NE(s, -1);
  ASSERT_TRUE(test::SendText(s, "GET /c0ffee/media/bad.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  const std::string reply = test::ReceiveAll(s);
  test::CloseSocket(s);
  const size_t headEnd = reply.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << reply.substr(0, 200);
  EXPECT_LT(reply.size() - headEnd - 4, bad.size()) << "bytes the CRC-32 had not covered went out";
}

}  // namespace
}  // namespace storage::clients
