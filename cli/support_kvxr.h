// What the KV-xR commands share: finding a device by its MAC with one library
// scan, checking addresses typed on the command line, and saying what a
// library status means.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/support_host.h"

namespace qs::cli {

struct KvxrDevice {
  int32_t handle = 0;
  std::string line;     // the library's device line
  std::string model;    // KV-1R ...
  std::string address;  // current
  std::string version;  // "*" when unanswered
  bool dhcp = false;
  std::string staticAddress, netmask, gateway;
};

// "00:11:22:33:44:55" or with "-": the canonical upper-case form with ":".
bool ParseMacArgument(const std::string& text, std::string* mac);
// Four decimal numbers 0-255 joined by single dots, nothing else.
bool ParseDottedQuad(const std::string& text, uint32_t* out);
// Ones then zeros, not all zeros.
bool IsContiguousNetmask(uint32_t mask);
std::string DottedText(uint32_t a);

// The arguments without "--xp" into *rest; false (directed broadcast) when
// "--xp" was among them, else true (limited broadcast).
bool TakeLimitedBroadcastOption(const std::vector<std::string>& all, std::vector<std::string>* rest);

// One library scan from this thread (about 6 s): every reported device by MAC
// (the last report of a MAC wins). status: what KVxR_DiscoverDevices answered.
bool ScanKvxrDevices(LibraryHost& host, bool limitedBroadcast, std::map<std::string, KvxrDevice>* out,
                     int32_t* status);

// Opens the host, scans and finds the device with that MAC; says on stderr why
// it cannot ("quillscan-cli <command>: ..."), with note after a missing device.
bool OpenAndFindKvxrDevice(LibraryHost& host, const char* command, const std::string& mac, bool limitedBroadcast,
                           KvxrDevice* device, const char* note = "");

enum class KvxrCall { SetNetworkCfg, Reboot, WriteOperationMode, ReadOperationMode };
// "-402: no acknowledgement ..." for the status of the call.
std::string StatusMeaning(KvxrCall call, int32_t status);

}  // namespace qs::cli
