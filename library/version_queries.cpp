#include "library/version_queries.h"

#include "library/version_reply.h"
#include "platform/tick.h"

namespace qs::kvxr {

bool VersionQueries::Add(const DeviceRecord& r, uint32_t sender) {
  if (queued_ + underWay_.size() >= kMaxDevicesPerInterface) return false;
  bySender_[sender].push_back(r);
  ++queued_;
  return true;
}

bool VersionQueries::NextToSend(uint32_t now, uint32_t* address) {
  if (queued_ == 0 || underWay_.size() >= kMaxVersionQueries) return false;
  // The host after the one served last, in address order, wrapping around.
  auto it = haveLast_ ? bySender_.upper_bound(lastSender_) : bySender_.begin();
  if (it == bySender_.end()) it = bySender_.begin();
  DeviceRecord r = it->second.front();
  it->second.pop_front();
  lastSender_ = it->first;
  haveLast_ = true;
  if (it->second.empty()) bySender_.erase(it);
  --queued_;
  underWay_.push_back(Query{r, now});
  *address = r.address;
  return true;
}

bool VersionQueries::OnReply(uint32_t from, const uint8_t* data, size_t len, std::vector<DeviceRecord>* done) {
  uint32_t major = 0, minor = 0;
  bool parsed = false, answered = false;
  for (auto it = underWay_.begin(); it != underWay_.end();) {
    // Only the device itself answers for itself.
    if (it->record.address != from) {
      ++it;
      continue;
    }
    if (!parsed && !DecodeVersionReply(data, len, &major, &minor)) return false;  // malformed: wait on
    parsed = true;
    it->record.versionMajor = major;
    it->record.versionMinor = minor;
    done->push_back(it->record);
    it = underWay_.erase(it);
    answered = true;
  }
  return answered;
}

void VersionQueries::Expire(uint32_t now, std::vector<DeviceRecord>* done) {
  for (auto it = underWay_.begin(); it != underWay_.end();) {
    if (now - it->sentAt >= kVersionWaitMs) {
      done->push_back(it->record);
      it = underWay_.erase(it);
    } else {
      ++it;
    }
  }
}

uint32_t VersionQueries::NextExpiryIn(uint32_t now) const {
  uint32_t best = kNone;
  for (const Query& q : underWay_) {
    uint32_t spent = now - q.sentAt;
    uint32_t left = spent >= kVersionWaitMs ? 0 : kVersionWaitMs - spent;
    if (left < best) best = left;
  }
  return best;
}

void VersionQueries::GiveUpQueued(std::vector<DeviceRecord>* done) {
  for (auto& s : bySender_)
    for (DeviceRecord& r : s.second) done->push_back(r);
  bySender_.clear();
  queued_ = 0;
}

void VersionQueries::GiveUpAll(std::vector<DeviceRecord>* done) {
  GiveUpQueued(done);
  for (Query& q : underWay_) done->push_back(q.record);
  underWay_.clear();
}

}  // namespace qs::kvxr
