#include "devsim/tcp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qs::devsim {

namespace {
constexpr size_t kReadPiece = 65536;
constexpr size_t kReadsPerWake = 16;  // so that one fast client cannot starve the others
}  // namespace

TcpConnection::TcpConnection(EventLoop& loop, int fd, uint32_t peer, uint16_t peerPort)
    : loop_(loop), fd_(fd), peer_(peer), peerPort_(peerPort) {}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::Start(DataFn onData, ClosedFn onClosed) {
  onData_ = std::move(onData);
  onClosed_ = std::move(onClosed);
  watch_ = loop_.Watch(fd_, false, [this](uint32_t events) { OnEvents(events); });
  return watch_ != 0;
}

void TcpConnection::Close() {
  if (watch_) loop_.Unwatch(watch_);
  watch_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  out_.clear();
  outAt_ = 0;
}

void TcpConnection::Abort() {
  if (fd_ < 0) return;
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void TcpConnection::Send(const uint8_t* data, size_t len) {
  if (fd_ < 0 || closeWhenSent_) return;
  out_.append(reinterpret_cast<const char*>(data), len);
  Flush();
}

void TcpConnection::CloseWhenSent() {
  if (fd_ < 0) return;
  closeWhenSent_ = true;
  Flush();
}

void TcpConnection::Flush() {
  while (fd_ >= 0 && outAt_ < out_.size()) {
    ssize_t r = send(fd_, out_.data() + outAt_, out_.size() - outAt_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (r <= 0) {
      out_.clear();  // the peer is gone; the read side reports it
      outAt_ = 0;
      break;
    }
    outAt_ += static_cast<size_t>(r);
  }
  if (outAt_ == out_.size()) {
    out_.clear();
    outAt_ = 0;
  } else if (outAt_ > (1u << 20)) {
    out_.erase(0, outAt_);
    outAt_ = 0;
  }
  if (fd_ < 0) return;
  if (closeWhenSent_ && out_.empty()) {
    shutdown(fd_, SHUT_WR);
    Close();
    return;
  }
  loop_.SetWritable(watch_, !out_.empty());
}

void TcpConnection::OnEvents(uint32_t events) {
  std::weak_ptr<char> alive = alive_;
  if (events & EventLoop::kWritable) Flush();
  if (fd_ < 0) return;
  for (size_t k = 0; k < kReadsPerWake; ++k) {
    uint8_t buf[kReadPiece];
    ssize_t r = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (r > 0) {
      if (closeWhenSent_) continue;  // closing: what still comes is dropped
      onData_(buf, static_cast<size_t>(r));
      if (alive.expired() || fd_ < 0) return;  // the callback closed or destroyed it
      continue;
    }
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Close();  // the peer closed, or the socket failed
    if (onClosed_) onClosed_();
    return;
  }
}

TcpListener::~TcpListener() {
  if (watch_) loop_.Unwatch(watch_);
  if (fd_ >= 0) close(fd_);
}

bool TcpListener::Open(uint32_t address, uint16_t port, AcceptFn onAccept, std::string* error) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(fd_, IPPROTO_IP, IP_FREEBIND, &one, sizeof one);  // the address may come a moment later
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(address);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 16) != 0) {
    *error = std::string("listen: ") + strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  onAccept_ = std::move(onAccept);
  watch_ = loop_.Watch(fd_, false, [this](uint32_t) { OnReadable(); });
  if (!watch_) {
    *error = "cannot watch the listening socket";
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void TcpListener::OnReadable() {
  std::weak_ptr<char> alive = alive_;
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    onAccept_(fd, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
    if (alive.expired()) return;
  }
}

}  // namespace qs::devsim
