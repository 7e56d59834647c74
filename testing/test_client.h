// A small blocking loopback client for the server's tests (Winsock or BSD sockets).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace storage::test {

using ClientSocket = intptr_t;

// A connected blocking socket, or -1. receiveBuffer > 0 shrinks SO_RCVBUF (slow readers).
ClientSocket Connect(uint16_t port, int receiveBuffer = 0);
bool SendText(ClientSocket s, const std::string& text);
// Up to max bytes, blocking; 0 at the end of the stream or on error.
size_t ReceiveSome(ClientSocket s, char* buffer, size_t max);
// Everything until the server closes (10-second receive timeout).
std::string ReceiveAll(ClientSocket s);
void CloseSocket(ClientSocket s);
// Connect, send, read until close.
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
