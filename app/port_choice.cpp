#include "app/port_choice.h"

#include <algorithm>

namespace app {

uint16_t DerivedPort(uint32_t contentId) {
  // ContentId is a CRC-32; one multiplicative mixing step spreads its bits before they
  // are folded into the range, so that contents that differ little still part.
  uint32_t mixed = contentId * 0x9E3779B1u;
  mixed ^= mixed >> 15;
  return static_cast<uint16_t>(kDerivedPortFirst +
                               mixed % (kDerivedPortLast - kDerivedPortFirst + 1));
}

bool IsFixedPort(int32_t chosenPort) { return chosenPort >= 1 && chosenPort <= 65535; }

std::vector<int32_t> PortCandidates(int32_t chosenPort, uint32_t rememberedPort,
                                    uint32_t contentId) {
  if (IsFixedPort(chosenPort)) return {chosenPort};
  std::vector<int32_t> ports;
  if (rememberedPort >= 1 && rememberedPort <= 65535) {
    ports.push_back(static_cast<int32_t>(rememberedPort));
  }
  int32_t derived = DerivedPort(contentId);
  if (std::find(ports.begin(), ports.end(), derived) == ports.end()) ports.push_back(derived);
  ports.push_back(0);
  return ports;
}

}  // namespace app
