// What the KV-xR commands share: finding a device (by MAC or address) with a
// library scan, and looking for it again after a change. What a library
// status means: kvxr::StatusText (library/status_text.h).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/logic/kvxr_settings.h"
#include "cli/support_target.h"
#include "library/device_line.h"
#include "library/library_host.h"
#include "library/status_text.h"

namespace qs::cli {

using kvxr::LibraryHost;

struct KvxrDevice {
  int32_t handle = 0;
  std::string line;  // the library's device line
  std::string model;  // KV-1R ...
  kvxr::DeviceLine d;

  std::string Address() const;  // current, dotted
  app::RecordSettings Settings() const;
};

// The arguments without "--xp" into *rest; false (directed broadcast) when
// "--xp" was among them, else true (limited broadcast).
bool TakeLimitedBroadcastOption(const std::vector<std::string>& all, std::vector<std::string>* rest);

// One library scan from this thread (about 6 s): every device this scan
// reported (lines of earlier scans are left out). status: what
// KVxR_DiscoverDevices answered.
bool ScanKvxrDevices(LibraryHost& host, bool limitedBroadcast, std::vector<KvxrDevice>* out, int32_t* status);

// Opens the host and scans (with a spinner): every device found, one per
// MAC; says why not ("quillscan-cli <command>: ...").
bool OpenAndScanKvxrDevices(LibraryHost& host, const char* command, bool limitedBroadcast,
                            std::vector<KvxrDevice>* found);

// Opens the host, scans (with a spinner) and finds the one device the target
// names; says why it cannot ("quillscan-cli <command>: ..."), with note after
// a missing device.
bool OpenAndFindKvxrDevice(LibraryHost& host, const char* command, const DeviceTarget& target, bool limitedBroadcast,
                           KvxrDevice* device, const char* note = "");

// One look for a device by MAC: a new library scan, waiting up to waitMs for
// its line in this scan. false when the device did not answer in that time.
bool ProbeKvxrDevice(LibraryHost& host, bool limitedBroadcast, const uint8_t mac[6], uint32_t waitMs,
                     KvxrDevice* out);

// One look for several devices by MAC: a new library scan, waiting up to
// waitMs until each has been reported in this scan. *out: the line of each
// device that answered (the last one of a device wins), in the scan's order.
void ProbeKvxrDevices(LibraryHost& host, bool limitedBroadcast, const std::vector<std::array<uint8_t, 6>>& macs,
                      uint32_t waitMs, std::vector<KvxrDevice>* out);

// One device per MAC (it may be seen through two interfaces): the last line
// of each wins, in the order each MAC was first seen.
std::vector<KvxrDevice> UniqueByMac(const std::vector<KvxrDevice>& lines);

// Runs notifications until every scan started here has ended (at most 8 s):
// the library's scans must not outlive the program.
void LetScansEnd(LibraryHost& host);

}  // namespace qs::cli
