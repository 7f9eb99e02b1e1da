// The system calls under the socket classes, one implementation per build
// (socket_posix.cpp, socket_win.cpp). Everything above them, the deadline and
// stop loops included, is written once in socket_common.cpp. Handles are
// non-blocking from Open on; results use the kSock codes of socket.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/event.h"
#include "platform/socket.h"

namespace qs::plat::sys {

using Handle = intptr_t;
constexpr Handle kNoSocket = -1;

Handle OpenUdp();
Handle OpenTcp();
void CloseSocket(Handle s, Event& netEvent);

// UDP binds to an interface address so that it also hears the interface's
// broadcasts and multicast; TCP binds plainly.
bool Bind(Handle s, uint32_t address, uint16_t port, bool datagram);
bool Listen(Handle s, int backlog);

// QuickAck: acknowledge what arrives at once rather than with the system's
// delay; on Linux it lapses and is renewed after each receive.
enum class Option {
  Broadcast,
  ReceiveBuffer,
  ReuseAddress,
  MulticastInterface,
  MulticastTtl,
  MulticastLoop,
  QuickAck
};
bool SetOption(Handle s, Option o, uint32_t value);
// After a receive: keeps QuickAck on where the system lets it lapse (Linux);
// nothing where it stays set (Windows).
void RenewQuickAck(Handle s);
bool Membership(Handle s, bool join, uint32_t group, uint32_t interfaceAddress);

// bytes, kSockWouldBlock or kSockError
int SendTo(Handle s, const void* data, size_t len, uint32_t address, uint16_t port);
// bytes, kSockWouldBlock, kSockTruncated or kSockError
int RecvFrom(Handle s, void* buf, size_t cap, SockAddr* from);
// bytes (0: the peer closed, for Recv), kSockWouldBlock or kSockError
int Send(Handle s, const void* data, size_t len);
int Recv(Handle s, void* buf, size_t cap);

// kSockOk (connected), kSockWouldBlock (under way) or kSockError
int ConnectStart(Handle s, uint32_t address, uint16_t port);
// After the socket became writable: whether the connection was made.
bool ConnectSucceeded(Handle s);
// The accepted connection, or kNoSocket with *status kSockWouldBlock or kSockError.
Handle Accept(Handle s, int* status);
bool LocalAddress(Handle s, SockAddr* out);

// Waits until the socket is readable (forWrite: writable or connected), the
// stop object is set or the time has passed: kSockOk, kSockTimeout,
// kSockStopped or kSockError. netEvent is the socket's event (Windows).
int Wait(Handle s, bool forWrite, Event& netEvent, const WaitObject& stop, uint32_t timeoutMs);
// Waits until the socket is readable or (wantWrite) writable, the stop object
// is set or the time has passed: kSockOk with the ready directions marked,
// kSockTimeout, kSockStopped or kSockError. A failed or closed socket counts
// as readable (the next receive reports it).
int WaitEither(Handle s, bool wantWrite, Event& netEvent, const WaitObject& stop, uint32_t timeoutMs, bool* readable,
               bool* writable);

// The readable-data notification of a UDP socket, to wait on with others.
bool SelectRead(Handle s, Event& netEvent);
WaitObject Readable(Handle s, const Event& netEvent);
bool PollReadable(Handle s, const Event& netEvent);

}  // namespace qs::plat::sys
