#include "library/scanner.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "discovery/frame.h"
#include "library/fence.h"
#include "library/opmode_report.h"
#include "library/version_reply.h"
#include "net/udp_endpoint.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/thread.h"

namespace qs::kvxr {

namespace {

std::atomic<uint8_t> g_discoveryMode{0};

constexpr int kScanReceiveBuffer = 1 << 20;
constexpr uint32_t kWindUpWaitMs = 5000;

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
  ScanJob(IScanResult* result, KVxR_DoneCallback onDone, int scanners, ILogSink* log)
      : result_(result), done_(onDone), scanners_(scanners), active_(1), log_(log) {}
  virtual ~ScanJob() = default;

  IScanResult* result() const { return result_.get(); }
  ILogSink* log() const { return log_.get(); }

  // Each scanner's window ends here exactly once (also one that could not start).
  void ScannerEnded() {
    if (finished_.fetch_add(1) + 1 == scanners_) CallDone();
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
  // delivering what was posted before. `retryMs`: how long a refused post
  // is retried from this thread.
  void ReportFinished(uint32_t retryMs) {
    if (finishedReported_.exchange(true)) return;
    result_->Report(true, DeviceRecord());
    if (retryMs) result_->Flush(retryMs);
  }

  // The pool controls of the interface scans, to stop them at shutdown.
  void Keep(const Ref<IPoolJob>& control) {
    plat::ScopedLock l(lock_);
    controls_.push_back(control);
  }
  void StopScanners() {
    std::vector<Ref<IPoolJob>> controls;
    {
      plat::ScopedLock l(lock_);
      controls = controls_;
    }
    for (auto& c : controls) c->Stop();
  }

 private:
  void Complete();

  Ref<IScanResult> result_;
  std::atomic<KVxR_DoneCallback> done_;
  const int scanners_;
  std::atomic<int> finished_{0};
  // Interface scans still running (with their version queries), plus the
  // starter's guard while it sets the job up.
  std::atomic<int> active_;
  std::atomic<bool> finishedReported_{false};
  Ref<ILogSink> log_;
  plat::RecursiveLock lock_;
  std::vector<Ref<IPoolJob>> controls_;
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
  ReportFinished(kFinishedPostRetryMs);
  Unlist(this);
}

// One interface: discover requests, announces, operation-mode reports and
// the devices' version queries, all on one socket and one pooled thread.
class Scanner : public IThreadEntry {
 public:
  Scanner(ScanJob* job, const net::InterfaceEntry& entry)
      : job_(job), entry_(entry), log_(job->log(), "scan") {}
  virtual ~Scanner() = default;

  void Run(const plat::Event& stop) override {
    Fenced([&] {  // out of memory ends this interface's scan
      plat::SocketsLibrary sockets;
      if (ep_.Open(entry_.address, 0)) {
        // Every device answers the same broadcast at once: room for hundreds
        // of replies, so a crowded segment is not cut short by the buffer.
        ep_.SetReceiveBuffer(kScanReceiveBuffer);
        // The version queries have a socket of their own, so that their
        // replies never wait behind (or drown in) a burst of announces.
        if (queryEp_.Open(entry_.address, 0)) queryEp_.SetBroadcast(true);
        Scan(stop);
      } else {
        // No socket: the window passes all the same, so that the done
        // callback never comes before the other interfaces' (or while the
        // caller is still starting the scan).
        log_(LogKind::Outcome, "no socket on %u.%u.%u.%u; waiting out the window", QS_LOG_IP(entry_.address));
        stop.Wait(kScanWindowMs);
        EndWindow();
      }
      ep_.Close();
      queryEp_.Close();
    });
    EndWindow();  // when the fence cut the scan short
    Ref<ScanJob> job = std::move(job_);
    job->ReleaseActive();
  }

 private:
  // Tells the job once that this interface's window has ended.
  void EndWindow() {
    if (windowEnded_) return;
    windowEnded_ = true;
    job_->ScannerEnded();
  }

  void SendDiscover() {
    lastSend_ = plat::TickCount();
    if (attempt_ >= kDiscoverAttempts) return;
    ++attempt_;
    log_.SetAttempt(attempt_, kDiscoverAttempts);
    if (!disc::MakeNonce(nonce_)) return;
    std::vector<uint8_t> req = disc::BuildRequest(nonce_, disc::kCmdDiscover, nullptr, 0);
    ep_.SetBroadcast(true);
    uint32_t to = DiscoverDestination(g_discoveryMode.load(), entry_.address, entry_.netmask);
    ep_.SetDestination(to, disc::kCommandPort);
    bool sent = !req.empty() && ep_.Send(req.data(), req.size());  // send errors are ignored
    log_(LogKind::Sent, "discover to %u.%u.%u.%u from %u.%u.%u.%u%s", QS_LOG_IP(to), QS_LOG_IP(entry_.address),
         sent ? "" : " (send failed)");
  }

  void Scan(const plat::Event& stop) {
    SendDiscover();
    lastTraffic_ = lastSend_;
    const net::Deadline window = net::Deadline::FromNow(kScanWindowMs);
    const plat::WaitObject waits[2] = {stop.object(), queryEp_.readable()};
    const size_t waitCount = queryEp_.is_open() ? 2 : 1;
    bool windowOpen = true;
    for (;;) {
      const uint32_t now = plat::TickCount();
      SendVersionQueries(now);
      std::vector<DeviceRecord> done;
      queries_.Expire(now, &done);
      for (const DeviceRecord& r : done) log_(LogKind::Outcome, "no version from %u.%u.%u.%u", QS_LOG_IP(r.address));
      Report(done);
      if (windowOpen && window.Expired()) {
        windowOpen = false;
        // What never got its turn is reported without a version.
        done.clear();
        queries_.GiveUpQueued(&done);
        if (!done.empty()) log_(LogKind::Outcome, "%zu version queries not sent in the window", done.size());
        Report(done);
        EndWindow();
      }
      if (!windowOpen && queries_.empty()) return;

      uint32_t wait = queries_.NextExpiryIn(now);
      if (windowOpen) {
        uint32_t quiet = plat::TicksSince(lastTraffic_);
        uint32_t toResend = quiet >= kResendAfterMs ? 0 : kResendAfterMs - quiet;
        wait = std::min({wait, toResend, window.Remaining()});
      }
      int n = ep_.Receive(wait, waits, waitCount);
      if (n == 0 && ep_.lastWait() == 1) {  // version replies waiting
        TakeVersionReplies();
        continue;
      }
      if (n == 0 && ep_.lastWait() == 0) {  // stopped: shutdown or abort
        log_(LogKind::Outcome, "stopped");
        done.clear();
        queries_.GiveUpAll(&done);
        Report(done);
        if (windowOpen) EndWindow();
        return;
      }
      if (n > 0) {
        lastTraffic_ = plat::TickCount();
        Handle(ep_.buffer(), static_cast<size_t>(n), ep_.sender().address, windowOpen);
        continue;
      }
      if (n == net::kStrayDatagram) {
        lastTraffic_ = plat::TickCount();
        log_(LogKind::Skipped, "stray datagram from %u.%u.%u.%u (empty or beyond the buffer)",
             QS_LOG_IP(ep_.sender().address));
        continue;
      }
      if (!windowOpen || window.Expired()) continue;
      if (n == 0 && ep_.lastWait() == plat::kWaitTimeout) {
        if (plat::TicksSince(lastTraffic_) >= kResendAfterMs) {
          SendDiscover();
          lastTraffic_ = lastSend_;
        }
        continue;
      }
      // A receive error (or a failed wait) resends too, but never faster than
      // the quiet interval, so a stream of errors cannot become a flood.
      log_(LogKind::Note, "receive error");
      if (plat::TicksSince(lastSend_) >= kResendAfterMs) SendDiscover();
      else stop.Wait(10);
    }
  }

  void SendVersionQueries(uint32_t now) {
    uint32_t to = 0;
    while (queries_.NextToSend(now, &to)) {
      queryEp_.SetDestination(to, disc::kCommandPort);
      bool sent = queryEp_.Send(kVersionQuery, kVersionQuerySize);  // a failed send leaves the version unknown
      log_(LogKind::Sent, "?Version to %u.%u.%u.%u%s", QS_LOG_IP(to), sent ? "" : " (send failed)");
    }
  }

  void Report(const std::vector<DeviceRecord>& records) {
    for (const DeviceRecord& r : records) job_->result()->Report(false, r);
  }

  // What waits on the query socket: version replies (plain text, no frame)
  // of the devices asked.
  void TakeVersionReplies() {
    // Errors here are mostly per datagram (a query to an address where no
    // host answers may come back as one): read on past them, a bounded number.
    for (int errors = 0; errors < 256;) {
      int n = queryEp_.ReceiveWaiting();
      if (n == 0) return;
      if (n < 0) {
        if (n == net::kStrayDatagram)
          log_(LogKind::Skipped, "stray datagram from %u.%u.%u.%u on the query socket",
               QS_LOG_IP(queryEp_.sender().address));
        else
          log_(LogKind::Note, "receive error on the query socket");
        if (n == net::kReceiveError) ++errors;
        continue;
      }
      const uint32_t from = queryEp_.sender().address;
      std::vector<DeviceRecord> done;
      if (queries_.OnReply(from, queryEp_.buffer(), static_cast<size_t>(n), &done)) {
        for (const DeviceRecord& r : done)
          log_(LogKind::Received, "version %u.%u from %u.%u.%u.%u", r.versionMajor, r.versionMinor, QS_LOG_IP(from));
        Report(done);
      } else {
        log_(LogKind::Skipped, "%d bytes from %u.%u.%u.%u on the query socket: no version reply", n,
             QS_LOG_IP(from));
      }
    }
  }

  void Handle(const uint8_t* data, size_t len, uint32_t from, bool windowOpen) {
    disc::VerifiedReply v;
    if (!disc::VerifyReply(nonce_, data, len, &v)) {
      log_(LogKind::Skipped, "%zu bytes from %u.%u.%u.%u: not a reply to the current request", len, QS_LOG_IP(from));
      return;
    }
    if (!windowOpen) return;  // the window has ended: no new devices
    if (v.type == disc::kReplyAnnounce) OnAnnounce(v.payload, v.length, from);
    else if (v.type == disc::kReplyOpModeReport) OnOpModeReport(v.payload, v.length);
    else log_(LogKind::Skipped, "reply type 0x%04X from %u.%u.%u.%u", v.type, QS_LOG_IP(from));
  }

  void OnOpModeReport(const uint8_t* p, size_t len) {
    OpModeReport report;
    if (!DecodeOpModeReport(p, len, &report)) return;
    HwId id;
    std::memcpy(id.bytes, report.hardwareId, kHwIdSize);
    const uint8_t mode = report.mode;
    auto it = opModes_.find(id);
    if (it != opModes_.end()) it->second = mode;
    else if (opModes_.size() < kMaxDevicesPerInterface) opModes_.emplace(id, mode);
  }

  void OnAnnounce(const uint8_t* p, size_t len, uint32_t from) {
    DeviceRecord r;
    if (!RecordFromAnnounce(p, len, &r)) {
      log_(LogKind::Skipped, "announce from %u.%u.%u.%u: not a KV-xR model or too short", QS_LOG_IP(from));
      return;
    }
    HwId id;
    std::memcpy(id.bytes, r.hardwareId, kHwIdSize);
    if (seen_.count(id)) return;
    if (seen_.size() >= kMaxDevicesPerInterface) {
      if (!fullNoted_) log_(LogKind::Note, "more than %zu devices on this interface: the rest is ignored",
                            kMaxDevicesPerInterface);
      fullNoted_ = true;
      return;
    }
    seen_.emplace(id, 1);
    auto mode = opModes_.find(id);
    r.operationMode = mode == opModes_.end() ? 0 : mode->second;
    r.interfaceAddress = entry_.address;
    r.interfaceNetmask = entry_.netmask;
    r.interfaceDhcp = entry_.dhcp;
    log_(LogKind::Received, "announce of %u.%u.%u.%u from %u.%u.%u.%u", QS_LOG_IP(r.address), QS_LOG_IP(from));
    if (!queries_.Add(r, from)) job_->result()->Report(false, r);  // no room: no version
  }

  Ref<ScanJob> job_;
  net::InterfaceEntry entry_;
  JobLog log_;
  net::Endpoint ep_;
  net::Endpoint queryEp_;
  uint8_t nonce_[disc::kNonceSize] = {};
  uint32_t attempt_ = 0;
  uint32_t lastSend_ = 0;
  uint32_t lastTraffic_ = 0;
  bool fullNoted_ = false;
  bool windowEnded_ = false;
  std::map<HwId, uint8_t> opModes_;
  std::map<HwId, uint8_t> seen_;
  VersionQueries queries_;
};

}  // namespace

void SetDiscoveryModeFlag(uint8_t mode) { g_discoveryMode.store(mode); }
uint8_t DiscoveryModeFlag() { return g_discoveryMode.load(); }

uint32_t DiscoverDestination(uint8_t mode, uint32_t address, uint32_t netmask) {
  return mode == 1 ? plat::kBroadcastAddress : net::DirectedBroadcast(address, netmask);
}

void StartScan(IScanResult* result, KVxR_DoneCallback onDone, net::InterfaceQueryFn query, ILogSink* log) {
  net::InterfaceList list(true, query);
  std::vector<net::InterfaceEntry> entries;
  if (list.Build()) entries = list.entries();

  auto* raw = new (std::nothrow) RCObject2<ScanJob>(result, onDone, static_cast<int>(entries.size()), log);
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
      Ref<IPoolJob> control;
      queued = RunOnPool(s, &control);
      if (queued) job->Keep(control);
      s->Release();
    }
    // An interface left out (the pool refused it) counts as scanned, so the
    // done callback still comes once (on this thread when none could start).
    if (!queued) {
      job->ScannerEnded();
      job->ReleaseActive();
    }
  }
  if (entries.empty()) job->CallDone();
  job->ReleaseActive();  // the starter's guard
}

void WindUpScans() {
  std::vector<Ref<ScanJob>> jobs;
  {
    JobList& l = Jobs();
    plat::ScopedLock lock(l.lock);
    for (auto& j : l.jobs) jobs.push_back(j);
  }
  for (auto& j : jobs) j->StopScanners();
  const net::Deadline d = net::Deadline::FromNow(kWindUpWaitMs);
  for (auto& j : jobs) {
    while (!j->ScannersEnded() && !d.Expired()) plat::SleepMs(20);
    j->CallDone();
    j->ReportFinished(0);  // on the host thread, whose windows are going: no retry
    Unlist(j.get());
  }
}

size_t ListedScanCount() {
  JobList& l = Jobs();
  plat::ScopedLock lock(l.lock);
  return l.jobs.size();
}

}  // namespace qs::kvxr
