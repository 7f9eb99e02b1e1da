#include "firmware/stream_connection.h"

#include "platform/tick.h"

namespace qs::fw {

namespace {

uint32_t Left(uint32_t start, uint32_t ms) {
  if (ms == plat::kInfinite) return ms;
  uint32_t spent = plat::TicksSince(start);
  return spent >= ms ? 0 : ms - spent;
}

}  // namespace

int StreamConnection::Connect(uint32_t address, uint16_t port, uint32_t localAddress, const plat::WaitLimit& limit) {
  Close();
  failed_ = false;
  parser_ = StreamReplyParser();
  offset_ = count_ = 0;
  int r = socket_.Connect(address, port, limit, localAddress);
  // The device answers each request with small replies in separate sends;
  // a delayed acknowledgement would hold each of them up by 40-200 ms.
  if (r == plat::kSockOk) socket_.SetQuickAck();
  return r;
}

void StreamConnection::Close() { socket_.Close(); }

int StreamConnection::Send(const void* data, size_t len, const plat::WaitLimit& limit) {
  return socket_.SendAll(data, len, limit);
}

int StreamConnection::SendSome(const void* data, size_t len) { return socket_.SendSome(data, len); }

StreamConnection::Got StreamConnection::FromBuffer(StreamReply& out) {
  if (failed_) return Got::Malformed;
  const uint8_t* p = buffer_ + offset_;
  size_t n = count_;
  StreamReplyParser::Step step = parser_.Feed(p, n, out);
  offset_ += count_ - n;
  count_ = n;
  if (count_ == 0) offset_ = 0;
  if (step == StreamReplyParser::Step::Reply) return Got::Reply;
  if (step == StreamReplyParser::Step::Malformed) {
    failed_ = true;
    return Got::Malformed;
  }
  return Got::Nothing;
}

StreamConnection::Got StreamConnection::Fill(bool* gotBytes) {
  *gotBytes = false;
  // The parser keeps what it has consumed, so the buffer only holds bytes
  // not fed yet; it is empty whenever FromBuffer said Nothing.
  if (count_ == 0) offset_ = 0;
  size_t room = sizeof buffer_ - offset_ - count_;
  if (room == 0) return Got::Nothing;
  int n = socket_.RecvSome(buffer_ + offset_ + count_, room);
  if (n == plat::kSockWouldBlock) return Got::Nothing;
  if (n <= 0) {
    failed_ = true;
    return Got::Closed;
  }
  count_ += static_cast<size_t>(n);
  *gotBytes = true;
  return Got::Nothing;
}

StreamConnection::Got StreamConnection::Poll(StreamReply& out) {
  for (;;) {
    Got g = FromBuffer(out);
    if (g != Got::Nothing) return g;
    bool got = false;
    g = Fill(&got);
    if (g != Got::Nothing) return g;
    if (!got) return Got::Nothing;
  }
}

StreamConnection::Got StreamConnection::Next(StreamReply& out, const plat::WaitLimit& limit) {
  const uint32_t start = plat::TickCount();
  for (;;) {
    Got g = Poll(out);
    if (g != Got::Nothing) return g;
    int w = WaitReady(false, plat::WaitLimit{Left(start, limit.ms), limit.stop});
    if (w == plat::kSockTimeout) return Got::Timeout;
    if (w == plat::kSockStopped) return Got::Stopped;
    if (w != plat::kSockOk) {
      failed_ = true;
      return Got::Closed;
    }
  }
}

int StreamConnection::WaitReady(bool wantWrite, const plat::WaitLimit& limit) {
  bool readable = false, writable = false;
  return socket_.WaitReady(wantWrite, limit, &readable, &writable);
}

}  // namespace qs::fw
