// A small blocking loopback client for the server's tests (Winsock or BSD sockets).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace storage::test {

using ClientSocket = intptr_t;

// AddressSanitizer keeps freed blocks in quarantine, so resident memory grows there
// without a leak: memory bounds are checked only without it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

// A connected blocking socket to 127.0.0.1 (ipv6: ::1), or -1. receiveBuffer > 0 shrinks
// SO_RCVBUF (slow readers).
ClientSocket Connect(uint16_t port, int receiveBuffer = 0, bool ipv6 = false);
// Whether a socket asking for SO_REUSEADDR can bind the loopback port (ipv6: ::1) now.
bool CanBind(uint16_t port, bool ipv6 = false);
// False when the connection failed (no SIGPIPE) or a send timeout passed.
bool SendText(ClientSocket s, const std::string& text);
// Up to max bytes, blocking; 0 at the end of the stream or on error.
size_t ReceiveSome(ClientSocket s, char* buffer, size_t max);
// Everything until the server closes (10-second receive timeout).
std::string ReceiveAll(ClientSocket s);
// Exactly n bytes; fewer at the end of the stream, on error or on a receive timeout.
std::string ReceiveExactly(ClientSocket s, size_t n);
void CloseSocket(ClientSocket s);
// Send and receive timeouts in milliseconds (a blocked send or receive then fails).
void SetTimeouts(ClientSocket s, int sendMs, int receiveMs);
// Ends the sending side (FIN): the server answers what it got and then closes.
void ShutdownSend(ClientSocket s);
// Connect, send, end the sending side, read until close.
std::string Exchange(uint16_t port, const std::string& request);
// The port of a "http://localhost:<port>/" URL.
uint16_t PortOf(const std::string& url);
// Open descriptors (POSIX) or handles (Windows) of this process.
size_t OpenHandleCount();
// Resident memory of this process in bytes (0 when unknown).
size_t ResidentBytes();
void SleepMs(int ms);
// Polls done every 10 ms until it holds or ms pass; whether it held.
bool WaitUntil(const std::function<bool()>& done, int ms = 10000);

}  // namespace storage::test
