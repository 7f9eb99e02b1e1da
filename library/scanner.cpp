#include "library/scanner.h"

#include <cstring>
#include <list>
#include <map>
#include <new>
#include <vector>

#include "discovery/frame.h"
#include "net/udp_endpoint.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/thread.h"

namespace qs::kvxr {

namespace {

std::atomic<uint8_t> g_discoveryMode{0};

constexpr int kScanReceiveBuffer = 1 << 20;

class ScanJob;

struct JobList {
  plat::RecursiveLock lock;
  std::list<Ref<ScanJob>> jobs;
};

JobList& Jobs() {
  static JobList* j = new JobList;  // pooled threads may outlive static destructors
  return *j;
}

struct IScanJob : IRefCounted {};

class ScanJob : public IScanJob {
 public:
  ScanJob(IScanResult* result, KVxR_DoneCallback onDone, int scanners)
      : result_(result), done_(onDone), scanners_(scanners), active_(1) {}
  virtual ~ScanJob() = default;

  IScanResult* result() const { return result_.get(); }

  // Each scanner ends here exactly once (also one that could not start).
  void ScannerEnded() {
    if (finished_.fetch_add(1) + 1 == scanners_) CallDone();
    ReleaseActive();
  }
  bool ScannersEnded() const { return finished_.load() >= scanners_; }

  void AddActive() { active_.fetch_add(1); }
  void ReleaseActive() {
    if (active_.fetch_sub(1) - 1 == 0) Complete();
  }

  void CallDone() {
    KVxR_DoneCallback cb = done_.exchange(nullptr);
    if (cb) cb();  // no lock held
  }

  // Tells the result once that nothing more comes; its window closes after
  // delivering what was posted before.
  void ReportFinished() {
    if (!finishedReported_.exchange(true)) result_->Report(true, DeviceRecord());
  }

 private:
  void Complete();

  Ref<IScanResult> result_;
  std::atomic<KVxR_DoneCallback> done_;
  const int scanners_;
  std::atomic<int> finished_{0};
  // Interface scans and version queries still running, plus the starter's
  // guard while it sets the job up.
  std::atomic<int> active_;
  std::atomic<bool> finishedReported_{false};
};

void Unlist(ScanJob* job) {
  Ref<ScanJob> drop;
  JobList& l = Jobs();
  plat::ScopedLock lock(l.lock);
  for (auto it = l.jobs.begin(); it != l.jobs.end(); ++it) {
    if (it->get() == job) {
      drop = std::move(*it);
      l.jobs.erase(it);
      break;
    }
  }
  // A listed job is never the last reference here: the caller holds one.
}

void ScanJob::Complete() {
  ReportFinished();
  Unlist(this);
}

// The version query of one new device.
class VersionGetter : public IThreadEntry {
 public:
  VersionGetter(ScanJob* job, const DeviceRecord& record) : job_(job), record_(record) {}
  virtual ~VersionGetter() = default;

  void Run(const plat::Event& stop) override {
    {
      plat::SocketsLibrary sockets;
      net::Endpoint ep;
      if (ep.Open(record_.interfaceAddress, 0)) {
        ep.SetBroadcast(true);
        ep.SetDestination(record_.address, kKvxrPort);
        static const char kQuery[] = "?Version";
        ep.Send(kQuery, sizeof kQuery - 1);  // a failed send leaves the version unknown
        const net::Deadline d = net::Deadline::FromNow(kVersionWaitMs);
        plat::WaitObject stopObj = stop.object();
        while (!d.Expired()) {
          int n = ep.Receive(d.Remaining(), &stopObj, 1);
          if (n == 0 && ep.lastWait() != plat::kWaitTimeout) break;  // shutdown, or no wait possible
          if (n < 0) stop.Wait(10);
          if (n <= 0) continue;
          // Only the device itself answers for itself.
          if (ep.sender().address != record_.address) continue;
          uint32_t major = 0, minor = 0;
          if (!ParseVersionReply(ep.buffer(), static_cast<size_t>(n), &major, &minor)) continue;
          record_.versionMajor = major;
          record_.versionMinor = minor;
          break;
        }
      }
    }
    job_->result()->Report(false, record_);
    Ref<ScanJob> job = std::move(job_);
    job->ReleaseActive();
  }

 private:
  Ref<ScanJob> job_;
  DeviceRecord record_;
};

class Scanner : public IThreadEntry {
 public:
  Scanner(ScanJob* job, const net::InterfaceEntry& entry) : job_(job), entry_(entry) {}
  virtual ~Scanner() = default;

  void Run(const plat::Event& stop) override {
    {
      plat::SocketsLibrary sockets;
      if (ep_.Open(entry_.address, 0)) {
        // Every device answers the same broadcast at once: room for hundreds
        // of replies, so a crowded segment is not cut short by the buffer.
        ep_.SetReceiveBuffer(kScanReceiveBuffer);
        Scan(stop);
      }
      ep_.Close();
    }
    Ref<ScanJob> job = std::move(job_);
    job->ScannerEnded();
  }

 private:
  void SendDiscover() {
    if (!disc::MakeNonce(nonce_)) return;
    std::vector<uint8_t> req = disc::BuildRequest(nonce_, disc::kCmdDiscover, nullptr, 0);
    ep_.SetBroadcast(true);
    ep_.SetDestination(DiscoverDestination(g_discoveryMode.load(), entry_.address, entry_.netmask), kKvxrPort);
    if (!req.empty()) ep_.Send(req.data(), req.size());  // send errors are ignored
    lastSend_ = plat::TickCount();
  }

  void Scan(const plat::Event& stop) {
    SendDiscover();
    const net::Deadline window = net::Deadline::FromNow(kScanWindowMs);
    plat::WaitObject stopObj = stop.object();
    while (!window.Expired()) {
      uint32_t left = window.Remaining();
      int n = ep_.Receive(left < kResendAfterMs ? left : kResendAfterMs, &stopObj, 1);
      if (n > 0) {
        Handle(ep_.buffer(), static_cast<size_t>(n));
        continue;
      }
      if (n == 0 && ep_.lastWait() == 0) return;  // shutdown
      if (window.Expired()) break;
      // A receive error resends too, but never faster than the quiet interval,
      // so a stream of errors cannot turn into a flood of requests.
      bool quiet = n == 0 && ep_.lastWait() == plat::kWaitTimeout;
      if (quiet || plat::TicksSince(lastSend_) >= kResendAfterMs) SendDiscover();
      else stop.Wait(10);
    }
  }

  void Handle(const uint8_t* data, size_t len) {
    disc::VerifiedReply v;
    if (!disc::VerifyReply(nonce_, data, len, &v)) return;
    if (v.type == disc::kReplyAnnounce) OnAnnounce(v.payload, v.length);
    else if (v.type == kReplyOpModeReport) OnOpModeReport(v.payload, v.length);
  }

  void OnOpModeReport(const uint8_t* p, size_t len) {
    HwId id;
    uint8_t mode = 0;
    if (ParseOpModeReport(p, len, &id, &mode)) opModes_[id] = mode;
  }

  void OnAnnounce(const uint8_t* p, size_t len) {
    DeviceRecord r;
    if (!RecordFromAnnounce(p, len, &r)) return;
    HwId id;
    std::memcpy(id.bytes, r.hardwareId, kHwIdSize);
    if (!seen_.emplace(id, 1).second) return;
    auto mode = opModes_.find(id);
    r.operationMode = mode == opModes_.end() ? 0 : mode->second;
    r.interfaceAddress = entry_.address;
    r.interfaceNetmask = entry_.netmask;
    r.interfaceDhcp = entry_.dhcp;

    job_->AddActive();
    auto* g = new (std::nothrow) RCObject2<VersionGetter>(job_.get(), r);
    if (g) {
      g->AddRef();
      bool queued = RunOnPool(g);
      g->Release();
      if (queued) return;
    }
    // No thread for the query: the device is still reported, its version unknown.
    job_->result()->Report(false, r);
    job_->ReleaseActive();
  }

  Ref<ScanJob> job_;
  net::InterfaceEntry entry_;
  net::Endpoint ep_;
  uint8_t nonce_[disc::kNonceSize] = {};
  uint32_t lastSend_ = 0;
  std::map<HwId, uint8_t> opModes_;
  std::map<HwId, uint8_t> seen_;
};

}  // namespace

void SetDiscoveryModeFlag(uint8_t mode) { g_discoveryMode.store(mode); }
uint8_t DiscoveryModeFlag() { return g_discoveryMode.load(); }

uint32_t DiscoverDestination(uint8_t mode, uint32_t address, uint32_t netmask) {
  return mode == 1 ? plat::kBroadcastAddress : net::DirectedBroadcast(address, netmask);
}

void StartScan(IScanResult* result, KVxR_DoneCallback onDone, net::InterfaceQueryFn query) {
  net::InterfaceList list(true, query);
  std::vector<net::InterfaceEntry> entries;
  if (list.Build()) entries = list.entries();

  auto* raw = new (std::nothrow) RCObject2<ScanJob>(result, onDone, static_cast<int>(entries.size()));
  if (!raw) {
    if (onDone) onDone();
    return;
  }
  raw->AddRef();
  Ref<ScanJob> job = Ref<ScanJob>::Adopt(raw);
  {
    JobList& l = Jobs();
    plat::ScopedLock lock(l.lock);
    l.jobs.push_back(job);
  }
  for (const net::InterfaceEntry& e : entries) {
    job->AddActive();
    auto* s = new (std::nothrow) RCObject2<Scanner>(job.get(), e);
    bool queued = false;
    if (s) {
      s->AddRef();
      queued = RunOnPool(s);
      s->Release();
    }
    // An interface left out counts as scanned, so the done callback still
    // comes once (on this thread when no interface could be scanned).
    if (!queued) job->ScannerEnded();
  }
  if (entries.empty()) job->CallDone();
  job->ReleaseActive();  // the starter's guard
}

void WindUpScans() {
  for (;;) {
    Ref<ScanJob> job;
    {
      JobList& l = Jobs();
      plat::ScopedLock lock(l.lock);
      if (l.jobs.empty()) return;
      job = l.jobs.front();
    }
    for (int i = 0; i < 50 && !job->ScannersEnded(); ++i) plat::SleepMs(100);
    job->CallDone();
    job->ReportFinished();
    Unlist(job.get());
  }
}

size_t ListedScanCount() {
  JobList& l = Jobs();
  plat::ScopedLock lock(l.lock);
  return l.jobs.size();
}

}  // namespace qs::kvxr
