// The version queries of one interface scan. They go out from the scan's own
// socket: at most kMaxVersionQueries are under way at once, each waiting
// kVersionWaitMs from its send for the device's reply; the rest wait in
// queues kept per announcing host and are taken from each host in turn, so a
// host that floods the segment with announces holds back only its own. What
// is still queued when the scan window ends is given up unanswered.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "library/device_record.h"

namespace qs::kvxr {

constexpr uint32_t kVersionWaitMs = 1000;
constexpr size_t kMaxVersionQueries = 32;
// Devices one interface scan takes in at most (queued, under way and done).
constexpr size_t kMaxDevicesPerInterface = 4096;

class VersionQueries {
 public:
  // The device (announced by `sender`) wants its version; false when the
  // queue is full.
  bool Add(const DeviceRecord& r, uint32_t sender);
  // The address of the next query to send at `now`, which is then under way;
  // false when none may go out.
  bool NextToSend(uint32_t now, uint32_t* address);
  // A datagram from `from`. true when it answered queries under way: those
  // records, with their version, are appended to *done.
  bool OnReply(uint32_t from, const uint8_t* data, size_t len, std::vector<DeviceRecord>* done);
  // Queries whose wait has run out, unanswered (version 0.0), to *done.
  void Expire(uint32_t now, std::vector<DeviceRecord>* done);
  // Milliseconds until the first query under way runs out (kNone when none is).
  uint32_t NextExpiryIn(uint32_t now) const;
  // Everything queued and not yet sent, unanswered, to *done.
  void GiveUpQueued(std::vector<DeviceRecord>* done);
  // Everything, queued or under way, unanswered, to *done.
  void GiveUpAll(std::vector<DeviceRecord>* done);

  size_t queued() const { return queued_; }
  size_t underWay() const { return underWay_.size(); }
  bool empty() const { return queued_ == 0 && underWay_.empty(); }

  static constexpr uint32_t kNone = 0xFFFFFFFFu;

 private:
  struct Query {
    DeviceRecord record;
    uint32_t sentAt;
  };
  std::map<uint32_t, std::deque<DeviceRecord>> bySender_;
  uint32_t lastSender_ = 0;
  bool haveLast_ = false;
  size_t queued_ = 0;
  std::vector<Query> underWay_;
};

}  // namespace qs::kvxr
