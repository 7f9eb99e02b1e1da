// Client of the device simulator's control port, for tests that run inside the
// test network (testnet/run.sh). Works on both builds: plain TCP only.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace qs::test {

// The test network, as testnet/run.sh describes it in QS_NET_* variables.
struct TestNet {
  static bool Available();  // running inside a test network
  static uint32_t PcA();     // PC address on segment A (host order)
  static uint32_t PcB();     // PC address on segment B
  static uint32_t PcDown();  // address of the PC interface that is down
  static uint32_t Mask();    // netmask of the three PC interfaces
  static uint32_t Sim();     // simulator's control address
  static uint16_t SimPort();
};

// Dotted text to host order; 0 when malformed.
uint32_t ParseAddress(const std::string& text);
std::string FormatAddress(uint32_t address);
// "k1=v1 k2=\"v 2\"" -> map
std::map<std::string, std::string> ParseFields(const std::string& line);

class SimClient {
 public:
  bool Connect(uint32_t timeoutMs = 3000);
  // Sends one line; true on "OK". Reply lines before it go to *lines, the
  // reason of an "ERR" (or of a broken connection) to *error.
  bool Command(const std::string& line, std::vector<std::string>* lines = nullptr, std::string* error = nullptr);
  bool Reset();
  // Adds a device ("model=KV1R mac=... ip=... segment=A ..."); returns its MAC
  // (the simulator picks one when the settings name none), "" on failure.
  std::string AddDevice(const std::string& settings, std::string* error = nullptr);
  bool Add(const std::string& settings) { return !AddDevice(settings).empty(); }
  bool Set(const std::string& mac, const std::string& settings, std::string* error = nullptr);
  bool Remove(const std::string& mac);
  bool Flood(const std::string& settings);
  std::vector<std::string> Log();    // datagrams received since reset/clearlog
  std::vector<std::string> Sent();   // datagrams the devices sent
  std::vector<std::string> Winks();  // winks received
  std::vector<std::string> List();   // one line per device
  std::map<std::string, std::string> Show(const std::string& mac);  // empty when unknown
  // Log lines whose kind= field equals kind.
  std::vector<std::map<std::string, std::string>> LogOfKind(const std::string& kind);
  uint32_t timeoutMs = 5000;

 private:
  bool ReadLine(std::string* line);
  plat::TcpSocket socket_;
  std::string buffer_;
};

}  // namespace qs::test
