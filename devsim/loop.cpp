#include "devsim/loop.h"

#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace qs::devsim {

namespace {

constexpr int kMaxEvents = 256;

uint32_t Mask(bool writable) { return EPOLLIN | EPOLLRDHUP | (writable ? EPOLLOUT : 0u); }

}  // namespace

EventLoop::~EventLoop() {
  if (epoll_ >= 0) close(epoll_);
}

uint64_t EventLoop::Now() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool EventLoop::Open(std::string* error) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) {
    *error = std::string("epoll: ") + strerror(errno);
    return false;
  }
  return true;
}

EventLoop::Id EventLoop::Watch(int fd, bool writable, SocketFn fn) {
  if (epoll_ < 0 || fd < 0 || !fn) return 0;
  Id id = next_++;
  epoll_event ev{};
  ev.events = Mask(writable);
  ev.data.u64 = id;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
  watches_[id] = {fd, writable, std::make_shared<SocketFn>(std::move(fn))};
  return id;
}

bool EventLoop::SetWritable(Id id, bool writable) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return false;
  if (it->second.writable == writable) return true;
  epoll_event ev{};
  ev.events = Mask(writable);
  ev.data.u64 = id;
  if (epoll_ctl(epoll_, EPOLL_CTL_MOD, it->second.fd, &ev) != 0) return false;
  it->second.writable = writable;
  return true;
}

void EventLoop::Unwatch(Id id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  watches_.erase(it);
}

EventLoop::Id EventLoop::After(uint32_t ms, TimerFn fn) {
  Id id = next_++;
  uint64_t due = Now() + ms;
  due_.emplace(due, id);
  timerFns_[id] = {due, std::move(fn)};
  return id;
}

void EventLoop::Cancel(Id timer) {
  auto it = timerFns_.find(timer);
  if (it == timerFns_.end()) return;
  auto range = due_.equal_range(it->second.first);
  for (auto d = range.first; d != range.second; ++d)
    if (d->second == timer) {
      due_.erase(d);
      break;
    }
  timerFns_.erase(it);
}

void EventLoop::CancelTimers() {
  due_.clear();
  timerFns_.clear();
}

void EventLoop::RunTimers() {
  uint64_t now = Now();
  // Timers set by a timer run in a later round, even when due at once.
  std::vector<Id> ready;
  for (auto it = due_.begin(); it != due_.end() && it->first <= now; ++it) ready.push_back(it->second);
  for (Id id : ready) {
    auto it = timerFns_.find(id);
    if (it == timerFns_.end()) continue;  // cancelled by an earlier one
    TimerFn fn = std::move(it->second.second);
    Cancel(id);
    fn();
  }
}

int EventLoop::WaitMs(int maxWaitMs) const {
  if (due_.empty()) return maxWaitMs;
  uint64_t now = Now(), due = due_.begin()->first;
  if (due <= now) return 0;
  uint64_t left = due - now;
  return left < static_cast<uint64_t>(maxWaitMs) ? static_cast<int>(left) : maxWaitMs;
}

void EventLoop::RunOnce(int maxWaitMs) {
  epoll_event events[kMaxEvents];
  int n = epoll_wait(epoll_, events, kMaxEvents, WaitMs(maxWaitMs));
  RunTimers();
  for (int i = 0; i < n; ++i) {
    auto it = watches_.find(events[i].data.u64);
    if (it == watches_.end()) continue;  // unwatched by an earlier callback of this round
    uint32_t got = 0;
    if (events[i].events & (EPOLLIN | EPOLLERR)) got |= kReadable;
    if (events[i].events & EPOLLOUT) got |= kWritable;
    if (events[i].events & (EPOLLHUP | EPOLLRDHUP)) got |= kHangup;
    std::shared_ptr<SocketFn> fn = it->second.fn;
    (*fn)(got);
  }
}

}  // namespace qs::devsim
