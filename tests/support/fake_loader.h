// A KV-xR device in its boot loader on the device side of a test network, for
// tests of the update (Linux: its threads enter the network namespace named
// by QS_NET_DEVNS). It plays both boot-loader kinds with the simulator's
// devices' addresses:
//   - it sees every UDP datagram of the namespace through a raw socket, so it
//     needs no port of its own next to the simulator: "Reboot" to its address,
//     port 9010, gets a challenge from that address, a right answer restarts
//     it into its boot loader after restartMs;
//   - a streaming loader then collects the multicast RAM program meant for its
//     identifier; an older one sends "WPBOOT" to port 60889, takes the offer
//     and the upload, acknowledging every block;
//   - with the whole RAM program it answers the recovery requests that watch
//     its identifier with its announcement, and serves the programming stream
//     (fake_flash.h) on its address.
// Every message is written here from the wire layouts, apart from the
// library's encoders.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_flash.h"

namespace qs::test {

struct LoaderSettings {
  uint32_t address = 0;  // the device's address (exists in the device namespace)
  uint8_t id[16] = {};
  uint8_t mac[6] = {};
  bool older = false;        // older boot loader: boot message and upload
  uint32_t restartMs = 300;  // from the answer to the boot loader
  // faults
  bool noChallenge = false;  // "Reboot" gets no answer
  bool noAnnounce = false;   // the boot loader never answers the recovery scan
  bool dropAcks = false;     // older loader: acknowledges nothing
};

class FakeLoader {
 public:
  FakeLoader();
  ~FakeLoader();
  // false when not in a test network or the namespace cannot be entered.
  bool Start(const LoaderSettings& s);
  void Stop();
  FakeFlash& flash() { return flash_; }

  // What it saw.
  int rebootRequests() const { return rebootRequests_.load(); }
  int restarts() const { return restarts_.load(); }
  bool programComplete() const { return programComplete_.load(); }
  std::vector<uint8_t> program();  // as it was received
  int streamDatagrams() const { return streamDatagrams_.load(); }
  int maxIdsInDatagram() const { return maxIds_.load(); }
  int announcements() const { return announcements_.load(); }
  int uploadBlocks() const { return uploadBlocks_.load(); }
  uint32_t offered() const { return offered_.load(); }
  // Back in its application (after "APPL"); the loader answers nothing more.
  bool running() const { return flash_.applied() > 0; }

 private:
  void RawLoop();
  void OlderLoop();
  void OnUdp(uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport, const uint8_t* p, size_t n);
  void Send(uint32_t to, uint16_t port, const std::vector<uint8_t>& d);

  LoaderSettings s_;
  FakeFlash flash_;
  std::thread raw_, older_;
  std::atomic<bool> stop_{false};
  int rawFd_ = -1, groupFd_ = -1, sendFd_ = -1;
  std::mutex m_;
  uint8_t token_[16] = {};
  bool challenged_ = false;
  uint32_t loaderAt_ = 0;  // tick at which the boot loader began (odd); 0: application
  bool restartPending_ = false;
  uint32_t restartAt_ = 0;
  uint16_t myPort_ = 0;
  uint8_t job_[16] = {};
  std::vector<std::vector<uint8_t>> blocks_;
  std::vector<bool> have_;
  std::atomic<int> rebootRequests_{0}, restarts_{0}, streamDatagrams_{0}, maxIds_{0}, announcements_{0},
      uploadBlocks_{0};
  std::atomic<bool> programComplete_{false};
  std::atomic<uint32_t> offered_{0};
};

// The program file the library embeds (for comparisons), or empty.
std::vector<uint8_t> RamProgramFile(const char* path);

}  // namespace qs::test
