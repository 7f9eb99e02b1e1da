// A boot loader's programming stream over a flash model, for tests: a TCP
// server that answers "READ", "DGST", "WRTE"/"WRTU" (progress every
// progressStep bytes, then "WFIN") and "APPL" as a device would, with faults
// that a device can show. Its bytes are written here from the message
// layout, apart from the library's encoder. Both builds; plain TCP.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qs::test {

struct FlashFaults {
  bool erroOnWrite = false;     // answer a write with "ERRO" (after half the data)
  bool badDigest = false;       // a "DGST" reply 19 bytes long
  bool ignoreWrites = false;    // take writes, report success, change nothing
  bool silentAfterData = false; // no "PRGS"/"WFIN" for the last part of a write
  bool closeDuringWrite = false;// drop the connection halfway through a write
  bool refuse = false;          // accept and close at once
};

class FakeFlash {
 public:
  FakeFlash();
  ~FakeFlash();
  // Listens on address:port (port 0: any) in the calling thread's network.
  bool Listen(uint32_t address, uint16_t port = 0);
  uint16_t port() const { return port_; }
  void Stop();

  void SetFaults(const FlashFaults& f);
  // Flash contents (unwritten bytes read as 0xFF).
  void Put(uint32_t address, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> Get(uint32_t address, uint32_t size);

  struct Write {
    std::string tag;
    uint32_t address;
    uint32_t size;
  };
  std::vector<Write> writes();
  int digests() const { return digests_.load(); }
  int applied() const { return applied_.load(); }
  int connections() const { return connections_.load(); }
  uint32_t progressStep = 4096;

 private:
  void Serve();
  bool Session(plat::TcpSocket& c);

  plat::TcpSocket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  FlashFaults faults_;
  std::map<uint32_t, uint8_t> flash_;
  std::vector<Write> writes_;
  std::atomic<int> digests_{0}, applied_{0}, connections_{0};
};

}  // namespace qs::test
