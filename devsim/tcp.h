// TCP of the device side, driven by the event loop: a listening socket on one
// device address and port, and the connections it accepts. Received bytes go
// to a callback as they come; bytes to send are queued and leave as the socket
// takes them, so no device ever blocks the simulator.
//
// Both objects close their socket when destroyed; a callback may destroy the
// object that called it (the object checks before touching itself again).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devsim/loop.h"

namespace qs::devsim {

class TcpConnection {
 public:
  using DataFn = std::function<void(const uint8_t* data, size_t len)>;
  using ClosedFn = std::function<void()>;  // the peer closed or the socket failed

  // Takes over fd, a connected non-blocking socket.
  TcpConnection(EventLoop& loop, int fd, uint32_t peer, uint16_t peerPort);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  bool Start(DataFn onData, ClosedFn onClosed);
  void Send(const uint8_t* data, size_t len);
  // Closes once everything queued has left.
  void CloseWhenSent();
  // Closes now with a reset, whatever is queued or unread (a dropped link).
  void Abort();
  bool open() const { return fd_ >= 0; }
  size_t queued() const { return out_.size() - outAt_; }
  uint32_t peer() const { return peer_; }
  uint16_t peerPort() const { return peerPort_; }

 private:
  void OnEvents(uint32_t events);
  void Flush();
  void Close();

  EventLoop& loop_;
  int fd_;
  uint32_t peer_;
  uint16_t peerPort_;
  EventLoop::Id watch_ = 0;
  DataFn onData_;
  ClosedFn onClosed_;
  std::string out_;
  size_t outAt_ = 0;
  bool closeWhenSent_ = false;
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

class TcpListener {
 public:
  // fd: the accepted socket (non-blocking), owned by the callee from then on.
  using AcceptFn = std::function<void(int fd, uint32_t peer, uint16_t peerPort)>;

  explicit TcpListener(EventLoop& loop) : loop_(loop) {}
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on address:port (the address need not be on an interface yet).
  bool Open(uint32_t address, uint16_t port, AcceptFn onAccept, std::string* error);

 private:
  void OnReadable();

  EventLoop& loop_;
  int fd_ = -1;
  EventLoop::Id watch_ = 0;
  AcceptFn onAccept_;
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace qs::devsim
