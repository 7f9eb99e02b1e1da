#include "firmware/programmer_ex.h"

#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "firmware/callback_ctrl.h"
#include "firmware/older_bootloader_support.h"
#include "firmware/programmer_notification.h"
#include "firmware/programmer_xx.h"
#include "firmware/progress_route.h"
#include "firmware/update_status.h"
#include "library/reboot_challenge.h"
#include "library/recovery_listener.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::fw {

namespace {

// A stopped job ends with this and reports nothing more.
constexpr int32_t kStopped = -0x7FFF;

// Where the stream job's records land (on the host thread) for the update
// job's thread to take.
class NotificationSlot : public IStreamListener {
 public:
  virtual ~NotificationSlot() = default;
  bool Init() { return event_.Create(false, false); }
  void OnStreamNotification(const ProgrammerNotification& n) override {
    {
      plat::ScopedLock l(lock_);
      records_.push_back(n);
    }
    event_.Set();
  }
  bool Take(ProgrammerNotification& out) {
    plat::ScopedLock l(lock_);
    if (records_.empty()) return false;
    out = records_.front();
    records_.pop_front();
    return true;
  }
  const plat::Event& event() const { return event_; }

 private:
  plat::RecursiveLock lock_;
  std::deque<ProgrammerNotification> records_;
  plat::Event event_;
};

// Where the recovery scan's answer lands (on the listener's thread).
class DeviceFound : public kvxr::IRecoveryHandler {
 public:
  virtual ~DeviceFound() = default;
  bool Init() { return event_.Create(true, false); }
  void OnRecoveryReport(const kvxr::RecoveryReport& r) override {
    {
      plat::ScopedLock l(lock_);
      address_ = r.address;
      port_ = r.port;
    }
    event_.Set();
  }
  void Get(uint32_t* address, uint16_t* port) {
    plat::ScopedLock l(lock_);
    *address = address_;
    *port = port_;
  }
  const plat::Event& event() const { return event_; }

 private:
  plat::RecursiveLock lock_;
  uint32_t address_ = 0;
  uint16_t port_ = 0;
  plat::Event event_;
};

std::string Dotted(uint32_t a) { return bytes::FormatIpv4(a); }

class ProgrammerEx : public InterfaceImpl<IProgrammerEx>, public InterfaceImpl<IThreadEntry> {
 public:
  ProgrammerEx(const UpdateJobConfig& config, ILogSink* log)
      : config_(config), job_(NewJobNumber()), sink_(log), log_(log, "update") {}
  virtual ~ProgrammerEx() = default;

  bool Init() { return started_.Create(true, false); }

  uint32_t GetJobId() override { return job_; }
  bool GetThreadEntry(Ref<IThreadEntry>* out) override {
    *out = static_cast<IThreadEntry*>(this);
    return true;
  }
  bool WaitStarted() override { return started_.Wait(kStartWaitMs) && startResult_; }
  bool Finished(int32_t* status) override {
    plat::ScopedLock l(lock_);
    if (!finished_) return false;
    *status = final_;
    return true;
  }

  void Run(const plat::Event& stop) override {
    int32_t st = kStopped;
    {
      plat::SocketsLibrary sockets;
      startResult_ = sockets.ok();
      started_.Set();
      try {
        st = Work(stop);
      } catch (...) {
        st = KVXR_UPDATE_NO_STREAM_JOB;  // out of memory: nothing more can be done
      }
      older_.reset();  // cancels the older boot loader's service
    }
    if (st == kStopped) return;
    {
      plat::ScopedLock l(lock_);
      finished_ = true;
      final_ = st;
    }
    log_(LogKind::Outcome, "update of %s ended: %d", Dotted(config_.deviceAddress).c_str(), st);
    Report(kKindEnded, 0, st);
  }

 private:
  void Report(int32_t kind, int32_t value, int32_t result) {
    ProgrammerNotification n;
    n.job = job_;
    n.kind = kind;
    n.value = value;
    n.result = result;
    PostProgress(n);
  }

  int32_t Work(const plat::Event& stop) {
    const uint32_t t0 = plat::TickCount();
    // 1. the older boot loader's service and the RAM-program stream
    if (!CreateOlderBootloaderSupport(config_.deviceAddress, config_.adapter, config_.mac, config_.program,
                                      sink_.get(), &older_))
      log_(LogKind::Note, "no service for an older boot loader: going on without it");
    Ref<IStreamingProgrammer> streaming;
    DeviceId id;
    std::memcpy(id.data(), config_.deviceId, 16);
    if (!RegisterForStreaming(config_.adapter, &id, kDeviceWaitMs, config_.program, &streaming)) {
      log_(LogKind::Outcome, "the RAM-program stream could not be started");
      return KVXR_UPDATE_NOT_STREAMED;
    }
    // 2. into the boot loader
    int32_t st = Reboot(stop);
    if (st != 0) return st;
    const uint32_t t1 = plat::TickCount();
    // 3. the device's boot loader answers the recovery scan
    uint32_t address = 0;
    uint16_t port = 0;
    st = AwaitDevice(stop, &address, &port);
    streaming.reset();
    if (st != 0) return st;
    const uint32_t t2 = plat::TickCount();
    log_(LogKind::Note, "boot loader of %s at %s:%u after %u ms (reboot exchange %u ms)",
         Dotted(config_.deviceAddress).c_str(), Dotted(address).c_str(), port, t2 - t1, t1 - t0);
    // 4. the stream job
    st = RunStreamJob(stop, address, port);
    log_(LogKind::Note, "stream job ended after %u ms", plat::TicksSince(t2));
    return st;
  }

  int32_t Reboot(const plat::Event& stop) {
    plat::UdpSocket s;
    if (!s.Open() || !s.Bind(config_.adapter.address, 0) || !s.SetBroadcast(true)) {
      log_(LogKind::Outcome, "no reboot socket on %s", Dotted(config_.adapter.address).c_str());
      return KVXR_UPDATE_NO_SOCKET;
    }
    Report(kKindPreparing, 0, 0);
    const std::vector<uint8_t> request = kvxr::BuildRebootRequest();
    if (s.SendTo(request.data(), request.size(), config_.deviceAddress, kvxr::kRebootPort) !=
        static_cast<int>(request.size())) {
      log_(LogKind::Outcome, "\"Reboot\" not sent");
      return KVXR_UPDATE_SEND_FAILED;
    }
    log_(LogKind::Sent, "\"Reboot\" to %s:%u", Dotted(config_.deviceAddress).c_str(), kvxr::kRebootPort);
    const uint32_t start = plat::TickCount();
    uint8_t buf[2048];
    for (;;) {
      uint32_t spent = plat::TicksSince(start);
      if (spent >= kChallengeWaitMs) {
        log_(LogKind::Outcome, "no usable challenge within %u ms", kChallengeWaitMs);
        return KVXR_UPDATE_NO_CHALLENGE;
      }
      plat::SockAddr from;
      int n = s.RecvFrom(buf, sizeof buf, &from, plat::WaitLimit{kChallengeWaitMs - spent, stop.object()});
      if (n == plat::kSockTimeout) continue;
      if (n == plat::kSockStopped) return kStopped;
      if (n == plat::kSockTruncated) {
        log_(LogKind::Skipped, "datagram beyond the buffer from %s", Dotted(from.address).c_str());
        continue;
      }
      if (n < 0) {
        log_(LogKind::Outcome, "receive error while waiting for the challenge");
        return KVXR_UPDATE_RECEIVE_ERROR;
      }
      uint8_t token[kvxr::kRebootTokenSize];
      if (from.address != config_.deviceAddress ||
          !kvxr::ParseRebootChallenge(buf, static_cast<size_t>(n), token)) {
        log_(LogKind::Skipped, "%d bytes from %s: not the device's challenge", n, Dotted(from.address).c_str());
        continue;
      }
      log_(LogKind::Received, "challenge");
      const std::vector<uint8_t> answer = kvxr::BuildRebootAnswer(token);
      if (s.SendTo(answer.data(), answer.size(), config_.deviceAddress, kvxr::kRebootPort) !=
          static_cast<int>(answer.size())) {
        log_(LogKind::Outcome, "answer not sent");
        return KVXR_UPDATE_SEND_FAILED;
      }
      log_(LogKind::Sent, "answer");
      return 0;
    }
  }

  int32_t AwaitDevice(const plat::Event& stop, uint32_t* address, uint16_t* port) {
    auto* found = new (std::nothrow) RCObject2<DeviceFound>();
    if (!found) return KVXR_UPDATE_NO_WATCH;
    Ref<DeviceFound> foundRef(found);
    Ref<kvxr::IRecoveryWatch> watch;
    if (!found->Init() || !kvxr::WatchForDevice(config_.adapter, config_.deviceId, config_.deviceAddress,
                                                kDeviceWaitMs, found, sink_.get(), &watch)) {
      log_(LogKind::Outcome, "no recovery-scan watch");
      return KVXR_UPDATE_NO_WATCH;
    }
    const plat::WaitObject objs[2] = {stop.object(), found->event().object()};
    const uint32_t start = plat::TickCount();
    for (;;) {
      uint32_t spent = plat::TicksSince(start);
      if (spent >= kDeviceWaitMs) {
        log_(LogKind::Outcome, "no answer to the recovery scan within %u ms", kDeviceWaitMs);
        return KVXR_UPDATE_NO_BOOT_LOADER;
      }
      uint32_t left = kDeviceWaitMs - spent;
      uint32_t w = plat::WaitAny(objs, 2, left < kDeviceWaitSliceMs ? left : kDeviceWaitSliceMs);
      if (w == 0) return kStopped;
      if (w == 1) break;
      if (w == plat::kWaitFailed) return KVXR_UPDATE_NO_WATCH;
      spent = plat::TicksSince(start);
      if (spent < kDeviceWaitMs) Report(kKindPreparing, static_cast<int32_t>((kDeviceWaitMs - spent) / 1000), 0);
    }
    found->Get(address, port);
    return 0;
  }

  int32_t RunStreamJob(const plat::Event& stop, uint32_t address, uint16_t port) {
    Report(kKindProgramming, 0, 0);
    StreamJobConfig sc;
    sc.address = address;
    sc.port = port;
    sc.localAddress = config_.adapter.address;
    sc.work = config_.work;
    sc.image = config_.image;
    sc.productData = config_.productData;
    sc.productBuffer = config_.productBuffer;
    std::memcpy(sc.deviceId, config_.deviceId, 16);
    Ref<IProgrammer> stream;
    auto* slot = new (std::nothrow) RCObject2<NotificationSlot>();
    if (!slot) return KVXR_UPDATE_NO_STREAM_JOB;
    Ref<NotificationSlot> slotRef(slot);
    if (!slot->Init() || !CreateStreamJob(sc, sink_.get(), &stream)) return KVXR_UPDATE_NO_STREAM_JOB;
    const uint32_t streamJob = stream->GetJobId();
    RegisterStreamListener(streamJob, slot);
    Ref<IPoolJob> control;
    if (!stream->Start(&control)) {
      UnregisterStreamListener(streamJob);
      log_(LogKind::Outcome, "the stream job could not be started");
      return KVXR_UPDATE_NO_STREAM_JOB;
    }
    int32_t st = KVXR_UPDATE_STREAM_SILENT;
    const plat::WaitObject objs[2] = {stop.object(), slot->event().object()};
    bool ended = false;
    while (!ended) {
      uint32_t w = plat::WaitAny(objs, 2, kStreamSilenceMs);
      if (w == 0) {
        st = kStopped;
        break;
      }
      if (w != 1) {
        log_(LogKind::Outcome, "%u ms without a word from the stream job", kStreamSilenceMs);
        st = KVXR_UPDATE_STREAM_SILENT;
        break;
      }
      ProgrammerNotification n;
      while (!ended && slot->Take(n)) {
        if (n.kind == kKindProgramming) {
          Report(kKindProgramming, n.value, 0);
        } else if (n.kind == kKindEnded) {
          st = n.result;
          ended = true;
        }
      }
    }
    UnregisterStreamListener(streamJob);
    if (!ended) control->Stop();  // nobody waits for it any more
    return st;
  }

  UpdateJobConfig config_;
  uint32_t job_;
  Ref<ILogSink> sink_;
  JobLog log_;
  plat::Event started_;
  bool startResult_ = false;
  Ref<IOlderBootloaderSupport> older_;
  plat::RecursiveLock lock_;
  bool finished_ = false;
  int32_t final_ = 0;
};

}  // namespace

bool CreateUpdateJob(const UpdateJobConfig& config, ILogSink* log, Ref<IProgrammerEx>* out) {
  out->reset();
  auto* job = new (std::nothrow) RCObject2Ex<ProgrammerEx>(config, log);
  if (!job) return false;
  Ref<IProgrammerEx> ref(static_cast<IProgrammerEx*>(job));
  if (!job->Init()) return false;
  *out = std::move(ref);
  return true;
}

}  // namespace qs::fw
