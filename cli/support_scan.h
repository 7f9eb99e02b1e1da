// One scan as the program runs it (its datagram scan and the KV-xR library's),
// for the commands that list or look for devices: the sockets library, the
// library's host and the spinner for the scan, all released at the end.
#pragma once
#include <vector>

#include "discovery/full_scan.h"
#include "library/library_host.h"
#include "platform/socket.h"

namespace qs::cli {

class ConsoleScan {
 public:
  ConsoleScan() = default;
  ~ConsoleScan();
  ConsoleScan(const ConsoleScan&) = delete;
  ConsoleScan& operator=(const ConsoleScan&) = delete;

  // Scans to the end; false (and says so) when the sockets library did not
  // start.
  bool Run(const char* command, const disc::FullScanOptions& options);
  const disc::FullScanResult& result() const { return result_; }
  // Every record the manager ends with, in order of first report.
  const std::vector<Ref<disc::IDeviceInfoX>>& devices() const;
  // Nothing was sent: no usable interface, or none could be set up. Says why
  // ("quillscan-cli <command>: ...") with what the system listed.
  bool NothingSent(const char* command) const;

 private:
  plat::SocketsLibrary sockets_;
  disc::DeviceManager* manager_ = nullptr;
  kvxr::LibraryHost host_;
  disc::FullScanResult result_;
};

}  // namespace qs::cli
