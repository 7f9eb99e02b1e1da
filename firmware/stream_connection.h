// The library's end of one programming stream (TCP, stream_protocol.h): the
// socket, a 4096-byte receive buffer and the reply parser. Every wait has a
// time limit and also ends on the job's stop event; sends never wait for
// more than the limit they are given.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/stream_protocol.h"
#include "platform/socket.h"

namespace qs::fw {

constexpr size_t kStreamReceiveBuffer = 4096;

class StreamConnection {
 public:
  StreamConnection() = default;
  ~StreamConnection() { Close(); }
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  // kSockOk, kSockTimeout, kSockStopped or kSockError (refused, unreachable).
  int Connect(uint32_t address, uint16_t port, uint32_t localAddress, const plat::WaitLimit& limit);
  // Shuts both directions down and closes.
  void Close();

  // A whole request within the limit: kSockOk, kSockTimeout, kSockStopped or
  // kSockError.
  int Send(const void* data, size_t len, const plat::WaitLimit& limit);
  // As much as the connection takes now: bytes (> 0), kSockWouldBlock (not
  // writable now) or kSockError.
  int SendSome(const void* data, size_t len);

  enum class Got { Reply, Timeout, Stopped, Closed, Malformed, Nothing };
  // The next whole reply, waiting up to the limit. `out` is valid until the
  // next call.
  Got Next(StreamReply& out, const plat::WaitLimit& limit);
  // The next whole reply from what has arrived, without waiting: Reply, or
  // Nothing, or Closed/Malformed when the stream has failed.
  Got Poll(StreamReply& out);
  // Waits until a reply byte can be read or (wantWrite) a send would take
  // data: kSockOk, kSockTimeout, kSockStopped or kSockError.
  int WaitReady(bool wantWrite, const plat::WaitLimit& limit);

  bool is_open() const { return socket_.is_open(); }

 private:
  // Parses from the buffer; Reply or Nothing (or Malformed).
  Got FromBuffer(StreamReply& out);
  // Receives what is there now: Reply-free result: Nothing (got bytes or none
  // waiting), Closed.
  Got Fill(bool* gotBytes);

  plat::TcpSocket socket_;
  StreamReplyParser parser_;
  uint8_t buffer_[kStreamReceiveBuffer] = {};
  size_t offset_ = 0;  // first unread byte
  size_t count_ = 0;   // unread bytes
  bool failed_ = false;
};

}  // namespace qs::fw
