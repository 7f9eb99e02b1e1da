#include "tests/support/fake_flash.h"

#include <cstring>

#include "platform/sha1.h"

namespace qs::test {

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Message(const char* tag, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m(8 + payload.size());
  PutLe32(m.data(), static_cast<uint32_t>(payload.size()));
  std::memcpy(m.data() + 4, tag, 4);
  if (!payload.empty()) std::memcpy(m.data() + 8, payload.data(), payload.size());
  return m;
}

constexpr uint32_t kIo = 20000;

}  // namespace

FakeFlash::FakeFlash() = default;
FakeFlash::~FakeFlash() { Stop(); }

bool FakeFlash::Listen(uint32_t address, uint16_t port) {
  if (!listener_.Listen(address, port)) return false;
  port_ = listener_.LocalAddress().port;
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void FakeFlash::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.Close();
}

void FakeFlash::SetFaults(const FlashFaults& f) {
  std::lock_guard<std::mutex> l(m_);
  faults_ = f;
}

void FakeFlash::Put(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> l(m_);
  for (size_t i = 0; i < bytes.size(); ++i) flash_[address + static_cast<uint32_t>(i)] = bytes[i];
}

std::vector<uint8_t> FakeFlash::Get(uint32_t address, uint32_t size) {
  std::lock_guard<std::mutex> l(m_);
  std::vector<uint8_t> out(size, 0xFF);
  for (uint32_t i = 0; i < size; ++i) {
    auto it = flash_.find(address + i);
    if (it != flash_.end()) out[i] = it->second;
  }
  return out;
}

std::vector<FakeFlash::Write> FakeFlash::writes() {
  std::lock_guard<std::mutex> l(m_);
  return writes_;
}

void FakeFlash::Serve() {
  while (!stop_) {
    plat::TcpSocket c;
    if (!listener_.Accept(c, 100)) continue;
    ++connections_;
    FlashFaults f;
    {
      std::lock_guard<std::mutex> l(m_);
      f = faults_;
    }
    if (f.refuse) continue;  // closed at once
    Session(c);
  }
}

bool FakeFlash::Session(plat::TcpSocket& c) {
  for (;;) {
    uint8_t head[8];
    int r = plat::kSockTimeout;
    while (r == plat::kSockTimeout && !stop_) r = c.RecvExactly(head, 8, plat::WaitLimit{100, {}});
    if (r != plat::kSockOk) return false;
    const uint32_t len = Le32(head);
    const std::string tag(reinterpret_cast<char*>(head + 4), 4);
    FlashFaults f;
    {
      std::lock_guard<std::mutex> l(m_);
      f = faults_;
    }
    if (tag == "APPL") {
      ++applied_;
      return true;
    }
    if (tag == "DGST" || tag == "READ") {
      uint8_t body[8];
      if (len != 8 || !c.RecvAll(body, 8, kIo)) return false;
      const uint32_t address = Le32(body), size = Le32(body + 4);
      std::vector<uint8_t> bytes = Get(address, size);
      std::vector<uint8_t> reply;
      if (tag == "DGST") {
        ++digests_;
        uint8_t d[20];
        plat::Sha1Digest(bytes.data(), bytes.size(), d);
        reply = Message("DGST", std::vector<uint8_t>(d, d + (f.badDigest ? 19 : 20)));
      } else {
        std::vector<uint8_t> payload(4, 0);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
        reply = Message("RDAT", payload);
      }
      if (!c.SendAll(reply.data(), reply.size(), kIo)) return false;
      continue;
    }
    if (tag == "WRTE" || tag == "WRTU") {
      if (len < 4) return false;
      uint8_t a[4];
      if (!c.RecvAll(a, 4, kIo)) return false;
      const uint32_t address = Le32(a), size = len - 4;
      {
        std::lock_guard<std::mutex> l(m_);
        writes_.push_back(Write{tag, address, size});
      }
      std::vector<uint8_t> data(size);
      uint32_t got = 0, reported = 0;
      while (got < size) {
        uint32_t piece = size - got < progressStep ? size - got : progressStep;
        if (!c.RecvAll(data.data() + got, piece, kIo)) return false;
        got += piece;
        if (f.closeDuringWrite && got >= size / 2) return false;
        if (f.erroOnWrite && got >= size / 2) {
          std::vector<uint8_t> e = Message("ERRO", {});
          c.SendAll(e.data(), e.size(), kIo);
          // the rest of the data is read and dropped
          std::vector<uint8_t> rest(size - got);
          if (!rest.empty() && !c.RecvAll(rest.data(), rest.size(), kIo)) return false;
          got = size;
          break;
        }
        if (f.silentAfterData && got == size) break;
        if (got - reported >= progressStep || got == size) {
          reported = got;
          std::vector<uint8_t> pos(4);
          PutLe32(pos.data(), address + got);
          std::vector<uint8_t> m = Message("PRGS", pos);
          if (!c.SendAll(m.data(), m.size(), kIo)) return false;
        }
      }
      if (f.erroOnWrite || f.silentAfterData) continue;
      if (!f.ignoreWrites) Put(address, data);
      std::vector<uint8_t> fin = Message("WFIN", {});
      if (!c.SendAll(fin.data(), fin.size(), kIo)) return false;
      continue;
    }
    // Anything else: skipped by its length.
    std::vector<uint8_t> skip(len);
    if (len && !c.RecvAll(skip.data(), len, kIo)) return false;
  }
}

}  // namespace qs::test
