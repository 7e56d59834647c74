#include "app/port_choice.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using app::DerivedPort;
using app::PortCandidates;

TEST(PortChoice, DerivedPortsStayInTheDynamicRangeAndPartContents) {
  std::set<uint16_t> seen;
  // Neighbouring identities (contents that differ in a byte) and the extremes.
  for (uint32_t id : {1u, 2u, 3u, 4u, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x12345678u}) {
    uint16_t port = DerivedPort(id);
    EXPECT_GE(port, app::kDerivedPortFirst) << id;
    EXPECT_LE(port, app::kDerivedPortLast) << id;
    EXPECT_EQ(DerivedPort(id), port);  // the same content, the same port
    seen.insert(port);
  }
  EXPECT_EQ(seen.size(), 8u);
  // Over many contents the range is used evenly enough that two rarely share a port.
  std::set<uint16_t> many;
  for (uint32_t id = 1; id <= 1000; ++id) many.insert(DerivedPort(id * 7919u));
  EXPECT_GT(many.size(), 960u);
}

TEST(PortChoice, FixedPortAloneOtherwiseRememberedDerivedThenAny) {
  const uint32_t id = 0xCAFE;
  const int32_t derived = DerivedPort(id);
  EXPECT_EQ(PortCandidates(8080, 50000, id), std::vector<int32_t>{8080});
  EXPECT_EQ(PortCandidates(65535, 0, id), std::vector<int32_t>{65535});
  for (int32_t any : {0, -1}) {
    EXPECT_EQ(PortCandidates(any, 50000, id), (std::vector<int32_t>{50000, derived, 0}));
    EXPECT_EQ(PortCandidates(any, 0, id), (std::vector<int32_t>{derived, 0}));
    // A remembered value that is no port counts as none; the derived port not twice.
    EXPECT_EQ(PortCandidates(any, 70000, id), (std::vector<int32_t>{derived, 0}));
    EXPECT_EQ(PortCandidates(any, static_cast<uint32_t>(derived), id),
              (std::vector<int32_t>{derived, 0}));
  }
  EXPECT_FALSE(app::IsFixedPort(0));
  EXPECT_FALSE(app::IsFixedPort(-1));
  EXPECT_FALSE(app::IsFixedPort(65536));
}

}  // namespace
