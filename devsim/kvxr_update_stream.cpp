// What a boot loader serves once its RAM program runs: the announcement to
// the recovery scan (library/recovery_wire.h) and the TCP programming stream
// (firmware/stream_protocol.h) over the device's memory (memory.h).
//
// Strict as a device: a READ of 1 to 4096 bytes, a DGST of at least one byte,
// both within the flash or the product-data area; a WRTE within the flash, a
// WRTU within the product record. A request out of range is answered "ERRO"
// (a write's data are then read and dropped, so the stream keeps its
// framing); a request of the wrong length or an unknown tag closes the
// connection. A write reports "PRGS" every prgs_step bytes and at its end,
// then "WFIN". Every request and reply goes to the "fw" journal.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "devsim/journal.h"
#include "devsim/kvxr_update.h"
#include "devsim/sim.h"
#include "firmware/stream_protocol.h"
#include "library/recovery_wire.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

constexpr uint32_t kReapEveryMs = 20;
constexpr uint32_t kReapTries = 250;  // a peer that reads nothing is cut off after 5 s

std::string Range(uint32_t address, uint32_t size) {
  char b[48];
  std::snprintf(b, sizeof b, "address=0x%06X size=%u", static_cast<unsigned>(address), static_cast<unsigned>(size));
  return b;
}

std::string TagText(const char* tag) { return Escaped(reinterpret_cast<const uint8_t*>(tag), 4); }

}  // namespace

// ---- the recovery scan ----

void KvxrUpdate::OnRecoveryRequest(const Datagram& g) {
  kvxr::RecoveryRequestView v;
  if (!kvxr::ParseRecoveryRequest(g.data, g.len, v)) return;
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!InLoader(d, g.at, Phase::Programmer)) continue;
    S& s = State(d);
    // a listener that watches devices wants those only; one that watches none
    // wants every boot loader
    bool named = v.count == 0;
    for (size_t i = 0; i < v.count && !named; ++i)
      named = kvxr::RequestEntry(v, i).id == d.hwid;
    if (!named || s.leaving || s.recoveryReply == RecoveryReply::None) continue;
    std::vector<uint8_t> a = kvxr::BuildAnnouncement(
        d.hwid.data(), d.mac.data(), s.recoveryReply == RecoveryReply::Port0 ? 0 : s.tcpPort);
    if (s.recoveryReply == RecoveryReply::Short) a.resize(40);
    ++s.announcements;
    sim().SendFrom(d, d.ip, *g.at.via, g.at.src, g.at.srcPort, a, "announcement");
  }
}

// ---- listening and connections ----

void KvxrUpdate::OpenProgrammer(Device& d) {
  S& s = State(d);
  if (s.accept == AcceptMode::Refuse) {
    Note(d, "tcp-refusing", "port=" + std::to_string(s.tcpPort));
    return;
  }
  auto listener = std::make_unique<TcpListener>(sim().loop());
  uint64_t id = d.id;
  std::string why;
  if (!listener->Open(d.ip, s.tcpPort,
                      [this, id](int fd, uint32_t peer, uint16_t port) { OnAccept(id, fd, peer, port); }, &why)) {
    Note(d, "tcp-listen-failed", "why=\"" + why + "\"");
    return;
  }
  s.listener = std::move(listener);
  Note(d, "tcp-listen", "at=" + bytes::FormatIpv4(d.ip) + ":" + std::to_string(s.tcpPort));
}

void KvxrUpdate::CloseProgrammer(Device& d) {
  S& s = State(d);
  if (!s.listener && s.sessions.empty()) return;
  s.listener.reset();
  for (auto& [id, ss] : s.sessions)
    if (!ss->closed) Note(d, "tcp-close", "session=" + std::to_string(id) + " why=restart");
  s.sessions.clear();
}

void KvxrUpdate::OnAccept(uint64_t device, int fd, uint32_t peer, uint16_t peerPort) {
  Device* d = sim().FindId(device);
  if (!d) {
    TcpConnection(sim().loop(), fd, peer, peerPort).Abort();
    return;
  }
  S& s = State(*d);
  std::string from = bytes::FormatIpv4(peer) + ":" + std::to_string(peerPort);
  if (s.accept == AcceptMode::Close) {
    Note(*d, "tcp-closed-at-once", "from=" + from);
    TcpConnection(sim().loop(), fd, peer, peerPort).CloseWhenSent();
    return;
  }
  if (s.accept == AcceptMode::Refuse || s.leaving) {
    // set to refuse while it listened already, or on its way out: cut off
    Note(*d, "tcp-cut", "from=" + from);
    TcpConnection(sim().loop(), fd, peer, peerPort).Abort();
    return;
  }
  auto ss = std::make_unique<StreamSession>();
  ss->id = s.nextSession++;
  ss->conn = std::make_unique<TcpConnection>(sim().loop(), fd, peer, peerPort);
  uint64_t sid = ss->id;
  auto session = [this, device, sid](Device** dev) -> StreamSession* {
    *dev = sim().FindId(device);
    if (!*dev) return nullptr;
    auto& m = State(**dev).sessions;
    auto it = m.find(sid);
    return it == m.end() ? nullptr : it->second.get();
  };
  bool started = ss->conn->Start(
      [this, session](const uint8_t* p, size_t n) {
        Device* dev = nullptr;
        if (StreamSession* x = session(&dev)) OnStreamData(*dev, *x, p, n);
      },
      [this, session] {
        Device* dev = nullptr;
        if (StreamSession* x = session(&dev)) {
          if (x->step == StreamSession::Step::Data)
            Note(*dev, "write-cut", Range(x->address, x->size) + " got=" + std::to_string(x->got));
          EndSession(*dev, *x, "peer-closed", false);
        }
      });
  if (!started) return;
  s.sessions[sid] = std::move(ss);
  ++s.accepted;
  Note(*d, "tcp-accept", "session=" + std::to_string(sid) + " from=" + from);
}

void KvxrUpdate::EndSession(Device& d, StreamSession& ss, const std::string& why, bool reset) {
  if (ss.closed) return;
  ss.closed = true;
  Note(d, "tcp-close", "session=" + std::to_string(ss.id) + " why=" + why);
  if (reset) {
    ss.held.clear();
    ss.conn->Abort();
  } else if (!ss.held.empty()) {
    ss.closeAfterHeld = true;
  } else {
    ss.conn->CloseWhenSent();
  }
  // the session goes once what it still had to say has left
  uint64_t sid = ss.id;
  sim().AfterFor(d, kReapEveryMs, [this, sid](Device& dev) { Reap(dev, sid, 1); });
}

void KvxrUpdate::Reap(Device& d, uint64_t session, uint32_t tries) {
  auto& m = State(d).sessions;
  auto it = m.find(session);
  if (it == m.end()) return;
  StreamSession& ss = *it->second;
  bool busy = ss.conn->open() && (ss.conn->queued() > 0 || !ss.held.empty());
  if (busy && tries < kReapTries) {
    sim().AfterFor(d, kReapEveryMs, [this, session, tries](Device& dev) { Reap(dev, session, tries + 1); });
    return;
  }
  m.erase(it);
}

// ---- replies ----

void KvxrUpdate::Emit(Device& d, StreamSession& ss, const char* tag, const std::vector<uint8_t>& payload,
                      uint32_t delayMs, uint32_t lengthField) {
  uint32_t length = lengthField == 0xFFFFFFFFu ? static_cast<uint32_t>(payload.size()) : lengthField;
  std::vector<uint8_t> m(fw::kStreamHeaderSize);
  bytes::PutLe32(m.data(), length);
  std::memcpy(m.data() + 4, tag, 4);
  m.insert(m.end(), payload.begin(), payload.end());
  std::string detail = "dir=out length=" + std::to_string(length);
  if (std::memcmp(tag, "PRGS", 4) == 0 && payload.size() == 4)
    detail += " position=" + std::to_string(bytes::GetLe32(payload.data()));
  else if (std::memcmp(tag, "DGST", 4) == 0) detail += " digest=" + bytes::HexText(payload.data(), payload.size());
  if (delayMs) detail += " after=" + std::to_string(delayMs) + "ms";
  Note(d, TagText(tag), detail);
  EmitRaw(d, ss, std::move(m), delayMs);
}

void KvxrUpdate::EmitRaw(Device& d, StreamSession& ss, std::vector<uint8_t> bytes, uint32_t delayMs) {
  // a slow report takes its time after the one before it has gone
  uint64_t now = EventLoop::Now();
  uint64_t due = std::max(now, ss.heldUntil) + delayMs;
  if (due <= now && ss.held.empty()) {
    ss.conn->Send(bytes.data(), bytes.size());
    return;
  }
  // behind a slow progress report everything waits its turn
  ss.held.emplace_back(due, std::move(bytes));
  ss.heldUntil = due;
  if (ss.timerArmed) return;
  ss.timerArmed = true;
  uint64_t sid = ss.id;
  sim().AfterFor(d, static_cast<uint32_t>(due - now), [this, sid](Device& dev) { FlushHeld(dev, sid); });
}

void KvxrUpdate::FlushHeld(Device& d, uint64_t session) {
  auto& m = State(d).sessions;
  auto it = m.find(session);
  if (it == m.end()) return;
  StreamSession& ss = *it->second;
  ss.timerArmed = false;
  uint64_t now = EventLoop::Now();
  while (!ss.held.empty() && ss.held.front().first <= now) {
    ss.conn->Send(ss.held.front().second.data(), ss.held.front().second.size());
    ss.held.pop_front();
  }
  if (!ss.held.empty()) {
    ss.timerArmed = true;
    sim().AfterFor(d, static_cast<uint32_t>(ss.held.front().first - now),
                   [this, session](Device& dev) { FlushHeld(dev, session); });
    return;
  }
  if (ss.closeAfterHeld) {
    ss.closeAfterHeld = false;
    ss.conn->CloseWhenSent();
  }
}

void KvxrUpdate::Refuse(Device& d, StreamSession& ss, const std::string& what) {
  ++State(d).refused;
  Note(d, "refused", what);
  Emit(d, ss, "ERRO", {});
}

// ---- requests ----

void KvxrUpdate::OnStreamData(Device& d, StreamSession& ss, const uint8_t* p, size_t n) {
  S& s = State(d);
  while (n > 0 && !ss.closed && !s.leaving) {
    size_t k = 0;
    switch (ss.step) {
      case StreamSession::Step::Head:
        k = std::min(n, sizeof ss.head - ss.headGot);
        std::memcpy(ss.head + ss.headGot, p, k);
        ss.headGot += k;
        p += k, n -= k;
        if (ss.headGot < sizeof ss.head) break;
        ss.headGot = 0;
        ss.length = bytes::GetLe32(ss.head);
        std::memcpy(ss.tag, ss.head + 4, 4);
        OnRequest(d, ss);
        break;
      case StreamSession::Step::Fixed: {
        k = std::min(n, ss.fixedNeed - ss.fixedGot);
        std::memcpy(ss.fixed + ss.fixedGot, p, k);
        ss.fixedGot += k;
        p += k, n -= k;
        if (ss.fixedGot < ss.fixedNeed) break;
        ss.fixedGot = 0;
        ss.step = StreamSession::Step::Head;
        uint32_t address = bytes::GetLe32(ss.fixed);
        if (std::memcmp(ss.tag, "READ", 4) == 0) OnRead(d, ss, address, bytes::GetLe32(ss.fixed + 4));
        else if (std::memcmp(ss.tag, "DGST", 4) == 0) OnDigest(d, ss, address, bytes::GetLe32(ss.fixed + 4));
        else OnWriteHead(d, ss, address);
        break;
      }
      case StreamSession::Step::Data:
        k = std::min<size_t>(n, ss.size - ss.got);
        OnWriteData(d, ss, p, k);
        p += k, n -= k;
        break;
      case StreamSession::Step::Discard:
        k = static_cast<size_t>(std::min<uint64_t>(n, ss.discardLeft));
        ss.discardLeft -= k;
        p += k, n -= k;
        if (ss.discardLeft == 0) ss.step = StreamSession::Step::Head;
        break;
    }
  }
}

void KvxrUpdate::OnRequest(Device& d, StreamSession& ss) {
  auto malformed = [&](const char* why) {
    ++State(d).refused;
    Note(d, "malformed", "tag=" + TagText(ss.tag) + " length=" + std::to_string(ss.length) + " why=" + why);
    EndSession(d, ss, "malformed", false);
  };
  bool range = std::memcmp(ss.tag, "READ", 4) == 0 || std::memcmp(ss.tag, "DGST", 4) == 0;
  bool write = std::memcmp(ss.tag, "WRTE", 4) == 0 || std::memcmp(ss.tag, "WRTU", 4) == 0;
  if (range) {
    if (ss.length != 8) return malformed("length");
    ss.fixedNeed = 8;
    ss.step = StreamSession::Step::Fixed;
  } else if (write) {
    if (ss.length < 5 || ss.length - 4 > kMaxFlashSize) return malformed("length");
    ss.fixedNeed = 4;
    ss.step = StreamSession::Step::Fixed;
  } else if (std::memcmp(ss.tag, "APPL", 4) == 0) {
    if (ss.length != 0) return malformed("length");
    OnApply(d, ss);
  } else {
    malformed("unknown-tag");
  }
}

void KvxrUpdate::OnRead(Device& d, StreamSession& ss, uint32_t address, uint32_t size) {
  S& s = State(d);
  ++s.reads;
  Note(d, "READ", "dir=in " + Range(address, size));
  if (size == 0 || size > fw::kMaxReadSize) return Refuse(d, ss, "READ " + Range(address, size) + " why=size");
  if (!s.memory.Holds(address, size)) return Refuse(d, ss, "READ " + Range(address, size) + " why=outside");
  std::vector<uint8_t> payload(4 + size);
  bytes::PutLe32(payload.data(), address);
  s.memory.Read(address, size, payload.data() + 4);
  ReplyFault fault = s.readFaultAt.Has(Memory::AreaOf(address)) ? s.readFault : ReplyFault::None;
  if (fault != ReplyFault::None) Note(d, "fault", "which=read_fault " + Range(address, size));
  switch (fault) {
    case ReplyFault::None:
      return Emit(d, ss, "RDAT", payload);
    case ReplyFault::Erro:
      return Emit(d, ss, "ERRO", {});
    case ReplyFault::BadTag:
      return Emit(d, ss, "RDAX", payload);
    case ReplyFault::BadLen:
      payload.pop_back();
      return Emit(d, ss, "RDAT", payload);
    case ReplyFault::Short:
      payload.resize(4 + size / 2);
      Emit(d, ss, "RDAT", payload, 0, size + 4);
      return EndSession(d, ss, "fault=short", false);
    case ReplyFault::Silent:
      return;
  }
}

void KvxrUpdate::OnDigest(Device& d, StreamSession& ss, uint32_t address, uint32_t size) {
  S& s = State(d);
  ++s.digests;
  Note(d, "DGST", "dir=in " + Range(address, size));
  if (size == 0 || !s.memory.Holds(address, size))
    return Refuse(d, ss, "DGST " + Range(address, size) + " why=outside");
  std::vector<uint8_t> digest(fw::kDigestSize);
  s.memory.Digest(address, size, digest.data());
  if (s.dgstFault != ReplyFault::None) Note(d, "fault", "which=dgst_fault " + Range(address, size));
  switch (s.dgstFault) {
    case ReplyFault::None:
      return Emit(d, ss, "DGST", digest);
    case ReplyFault::Erro:
      return Emit(d, ss, "ERRO", {});
    case ReplyFault::BadTag:
      return Emit(d, ss, "DGSX", digest);
    case ReplyFault::BadLen:
      digest.pop_back();
      return Emit(d, ss, "DGST", digest);
    case ReplyFault::Short:
      digest.resize(fw::kDigestSize / 2);
      Emit(d, ss, "DGST", digest, 0, fw::kDigestSize);
      return EndSession(d, ss, "fault=short", false);
    case ReplyFault::Silent:
      return;
  }
}

void KvxrUpdate::OnWriteHead(Device& d, StreamSession& ss, uint32_t address) {
  S& s = State(d);
  uint32_t size = ss.length - 4;
  bool product = std::memcmp(ss.tag, "WRTU", 4) == 0;
  Note(d, product ? "WRTU" : "WRTE", "dir=in " + Range(address, size));
  bool inside = product ? Memory::InRecord(address, size) : s.memory.InFlash(address, size);
  if (!inside) {
    Refuse(d, ss, std::string(product ? "WRTU " : "WRTE ") + Range(address, size) + " why=outside");
    ss.discardLeft = size;
    ss.step = StreamSession::Step::Discard;
    return;
  }
  ss.productWrite = product;
  ss.address = address;
  ss.size = size;
  ss.got = ss.reported = 0;
  ss.faultHere = s.writeFault != WriteFault::None && s.writeFaultAt.Has(Memory::AreaOf(address));
  ss.step = StreamSession::Step::Data;
}

void KvxrUpdate::OnWriteData(Device& d, StreamSession& ss, const uint8_t* p, size_t n) {
  S& s = State(d);
  bool sticks = !(ss.faultHere && s.writeFault == WriteFault::NoStick);
  if (sticks) s.memory.Write(ss.address + ss.got, p, n);
  ss.got += static_cast<uint32_t>(n);
  s.bytesWritten += n;
  if (ss.faultHere && ss.got >= ss.size / 2 && (s.writeFault == WriteFault::Erro || s.writeFault == WriteFault::Drop)) {
    ss.faultHere = false;
    Note(d, "fault", std::string("which=write_fault ") + (s.writeFault == WriteFault::Erro ? "erro " : "drop ") +
                         Range(ss.address, ss.size) + " got=" + std::to_string(ss.got));
    if (s.writeFault == WriteFault::Drop) return EndSession(d, ss, "fault=drop", true);
    Emit(d, ss, "ERRO", {});
    ss.discardLeft = ss.size - ss.got;
    ss.step = ss.discardLeft ? StreamSession::Step::Discard : StreamSession::Step::Head;
    return;
  }
  // progress as the flash would report it: at every step boundary passed,
  // and at the end
  auto progress = [&](uint32_t done) {
    std::vector<uint8_t> pos(4);
    bytes::PutLe32(pos.data(), ss.address + done);
    ss.reported = done;
    Emit(d, ss, "PRGS", pos, s.prgsDelayMs);
  };
  if (s.prgsStep > 0)
    while (ss.got - ss.reported >= s.prgsStep) progress(ss.reported + s.prgsStep);
  if (ss.got < ss.size) return;
  if (ss.reported != ss.size) progress(ss.size);
  Emit(d, ss, "WFIN", {});
  ++s.writes;
  Note(d, "write-done", Range(ss.address, ss.size) + (sticks ? "" : " stuck=0"));
  ss.step = StreamSession::Step::Head;
}

void KvxrUpdate::OnApply(Device& d, StreamSession& ss) {
  S& s = State(d);
  Note(d, "APPL", "dir=in");
  s.leaving = true;
  s.stuck = false;
  s.fromLoader = true;
  EndSession(d, ss, "appl", false);
  // the restart closes every connection: not from inside this one's callback
  uint64_t epoch = s.epoch;
  sim().AfterFor(d, 0, [this, epoch](Device& dev) {
    S& st = State(dev);
    if (st.epoch == epoch) sim().Restart(dev, st.appDelayMs, Power::Online);
  });
}

}  // namespace qs::devsim
