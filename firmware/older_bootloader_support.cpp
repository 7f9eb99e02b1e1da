#include "firmware/older_bootloader_support.h"

#include <atomic>
#include <cstring>
#include <new>

#include "firmware/boot_msg_watcher.h"
#include "firmware/older_loader_session.h"
#include "firmware/update_status.h"
#include "net/arp_table.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"
#include "runtime/thread.h"

namespace qs::fw {

namespace {

class OlderBootloaderSupport : public InterfaceImplWithFinalRelease<RCObjectMultiThreadModel, IOlderBootloaderSupport>,
                               public InterfaceImpl2<IThreadEntry, IBootMsgSync> {
 public:
  OlderBootloaderSupport(uint32_t deviceAddress, const net::AdapterRecord& adapter, const uint8_t mac[6],
                         const ProgramBytes& program, ILogSink* log)
      : deviceAddress_(deviceAddress), adapter_(adapter), program_(program), log_(log, "older-loader") {
    std::memcpy(mac_, mac, 6);
  }
  virtual ~OlderBootloaderSupport() = default;

  bool Init() {
    if (!plat::NewUuid(jobId_)) return false;
    if (!cancel_.Create(true, false) || !bootMessage_.Create(true, false)) return false;
    return socket_.Open() && socket_.Bind(adapter_.address, 0) && socket_.SetBroadcast(true) &&
           socket_.SelectRead();
  }

  int32_t Outcome() override { return outcome_.load(); }

  void OnBootMessage(uint16_t port) override {
    bootPort_.store(port);
    bootMessage_.Set();
  }

  void Run(const plat::Event& poolStop) override {
    try {
      Work(poolStop);
    } catch (...) {
      outcome_.store(kOldNoAnswer);  // out of memory: the update job's time-out covers the device
    }
    Unregister();
    socket_.Close();
  }

 protected:
  // The update job let go.
  void FinalRelease() override {
    {
      plat::ScopedLock l(registration_);
      cancelled_ = true;
    }
    Unregister();
    cancel_.Set();
  }

 private:
  IBootMsgSync* Sync() { return static_cast<IBootMsgSync*>(this); }

  // false when cancelled already or no watcher could be had.
  bool Register() {
    plat::ScopedLock l(registration_);
    if (cancelled_) return false;
    registered_ = RegisterBootMessages(adapter_, mac_, Sync());
    return registered_;
  }
  void Unregister() {
    plat::ScopedLock l(registration_);
    if (registered_) UnregisterBootMessages(adapter_, mac_, Sync());
    registered_ = false;
  }

  void Work(const plat::Event& poolStop) {
    plat::SocketsLibrary sockets;
    const plat::WaitObject waits[3] = {poolStop.object(), cancel_.object(), bootMessage_.object()};
    if (bootPort_.load() == 0) {
      if (!Register()) {
        log_(LogKind::Outcome, "no boot-message watcher");
        return;
      }
      if (plat::WaitAny(waits, 3, plat::kInfinite) != 2) return;
    }
    const uint16_t port = bootPort_.load();
    log_(LogKind::Received, "boot message of %s (last at %s) from port %u", bytes::FormatMac(mac_).c_str(),
         bytes::FormatIpv4(deviceAddress_).c_str(), port);

    uint32_t offered = 0;
    net::AddressSource src = net::AddressForMac(mac_, adapter_.address, adapter_.mask, offered);
    if (src == net::AddressSource::None) {
      outcome_.store(kOldNoFreeAddress);
      log_(LogKind::Outcome, "no free address in the subnet");
      return;
    }
    log_(LogKind::Note, "offering %s (%s)", bytes::FormatIpv4(offered).c_str(),
         src == net::AddressSource::Cache ? "from the ARP cache" : "drawn free");
    OlderLoaderSession session(jobId_, mac_, offered, port, program_.data, program_.size);
    outcome_.store(Drive(session, waits));
    log_(LogKind::Outcome, "offer and upload: %d", outcome_.load());
  }

  // Performs the session's actions; every receive also ends on a stop or cancel.
  int32_t Drive(OlderLoaderSession& session, const plat::WaitObject* waits) {
    const plat::WaitObject objs[3] = {waits[0], waits[1], socket_.readable()};
    OlderLoaderSession::Action a = session.Start(plat::TickCount());
    uint8_t buf[2048];
    for (;;) {
      switch (a.what) {
        case OlderLoaderSession::Do::Finish:
          return a.status;
        case OlderLoaderSession::Do::Send: {
          int n = socket_.SendTo(a.datagram->data(), a.datagram->size(), a.to.address, a.to.port);
          a = session.OnSent(n == static_cast<int>(a.datagram->size()), plat::TickCount());
          break;
        }
        case OlderLoaderSession::Do::Receive:
          if (!Receive(session, a, objs, buf, sizeof buf)) return kOldNoAnswer;  // stopped or cancelled
          break;
      }
    }
  }

  // One receive of the session, waiting up to its time-out; false when a stop
  // or the cancel ended the wait.
  bool Receive(OlderLoaderSession& session, OlderLoaderSession::Action& a, const plat::WaitObject* objs,
               uint8_t* buf, size_t cap) {
    const uint32_t start = plat::TickCount();
    for (;;) {
      plat::SockAddr from;
      int n = socket_.RecvFrom(buf, cap, &from);
      if (n >= 0 || n == plat::kSockTruncated) {
        // A datagram beyond the buffer is no answer of the protocol: unrelated.
        a = session.OnDatagram(buf, n < 0 ? 0 : static_cast<size_t>(n), UdpEndpoint{from.address, from.port},
                               plat::TickCount());
        return true;
      }
      if (n != plat::kSockWouldBlock) {
        a = session.OnReceiveError(plat::TickCount());
        return true;
      }
      uint32_t spent = plat::TicksSince(start);
      if (spent >= a.timeoutMs) {
        a = session.OnTimeout(plat::TickCount());
        return true;
      }
      uint32_t w = plat::WaitAny(objs, 3, a.timeoutMs - spent);
      if (w == 0 || w == 1 || w == plat::kWaitFailed) return false;
    }
  }

  uint32_t deviceAddress_;
  net::AdapterRecord adapter_;
  uint8_t mac_[6];
  ProgramBytes program_;
  JobLog log_;
  uint8_t jobId_[16] = {};
  plat::UdpSocket socket_;
  plat::Event cancel_;
  plat::Event bootMessage_;
  std::atomic<uint16_t> bootPort_{0};
  bool registered_ = false;  // under registration_
  std::atomic<int32_t> outcome_{0};
  plat::RecursiveLock registration_;
  bool cancelled_ = false;
};

}  // namespace

bool ServeOlderBootloader(const net::AdapterRecord& adapter, const uint8_t mac[6], uint16_t bootPort,
                          const ProgramBytes& program, ILogSink* log, Ref<IOlderBootloaderSupport>* out) {
  out->reset();
  if (bootPort == 0) return false;
  auto* o = new (std::nothrow) RCObject2Ex<OlderBootloaderSupport>(0, adapter, mac, program, log);
  if (!o) return false;
  Ref<IOlderBootloaderSupport> ref(static_cast<IOlderBootloaderSupport*>(o));
  if (!o->Init()) return false;
  o->OnBootMessage(bootPort);
  if (!RunOnPool(static_cast<InterfaceImpl<IThreadEntry>*>(o))) return false;
  *out = std::move(ref);
  return true;
}

bool CreateOlderBootloaderSupport(uint32_t deviceAddress, const net::AdapterRecord& adapter, const uint8_t mac[6],
                                  const ProgramBytes& program, ILogSink* log, Ref<IOlderBootloaderSupport>* out) {
  out->reset();
  auto* o = new (std::nothrow) RCObject2Ex<OlderBootloaderSupport>(deviceAddress, adapter, mac, program, log);
  if (!o) return false;
  Ref<IOlderBootloaderSupport> ref(static_cast<IOlderBootloaderSupport*>(o));
  if (!o->Init() || !RunOnPool(static_cast<InterfaceImpl<IThreadEntry>*>(o))) return false;
  *out = std::move(ref);
  return true;
}

}  // namespace qs::fw
