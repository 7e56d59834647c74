// Which ports a start asks for, so that one content keeps one origin run after run.
//
// Browsers keep what a page stores (localStorage, IndexedDB, cookies, caches) per origin,
// and the origin of a served page is "http://localhost:PORT". A content without a fixed
// port therefore asks first for the port it used last time on this machine (remembered
// per ContentId in the settings store), then for a port derived from its ContentId, and
// only when both are taken for any free port. A fixed port (".port", "--port" or the
// HttpPort setting) is asked for alone: it is never silently replaced. Pure.
#pragma once

#include <cstdint>
#include <vector>

namespace app {

// First and last port of the dynamic range (RFC 6335), where no service is registered.
inline constexpr uint32_t kDerivedPortFirst = 49152;
inline constexpr uint32_t kDerivedPortLast = 65535;

// A port of the dynamic range that follows from contentId alone; different contents
// land on different ports but for the one chance in 16,384.
uint16_t DerivedPort(uint32_t contentId);

// True for a port choice that names one port (1 to 65535); 0 and -1 ask for any.
bool IsFixedPort(int32_t chosenPort);

// The ports to try in order: the fixed port alone; otherwise the remembered port when
// it is a TCP port (1 to 65535), the derived port, then 0 (any free port), none twice.
std::vector<int32_t> PortCandidates(int32_t chosenPort, uint32_t rememberedPort,
                                    uint32_t contentId);

}  // namespace app
