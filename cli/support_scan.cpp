#include "cli/support_scan.h"

#include "cli/command.h"
#include "cli/support_scan_report.h"
#include "cli/support_spinner.h"

namespace qs::cli {

namespace {

void RunHost(uint32_t ms, const std::atomic<bool>* until, void* host) {
  static_cast<kvxr::LibraryHost*>(host)->Run(ms, until);
}

const std::vector<Ref<disc::IDeviceInfoX>> kNone;

}  // namespace

ConsoleScan::~ConsoleScan() {
  host_.Close();
  if (manager_) disc::ReleaseDeviceManager();
}

bool ConsoleScan::Run(const char* command, const disc::FullScanOptions& options) {
  if (!sockets_.ok()) {
    Error(command, "the sockets library did not start");
    return false;
  }
  manager_ = disc::GetDeviceManagerImpl();
  const bool hosted = host_.Open();
  Spinner spinner(command, "scanning");
  result_ = disc::ScanToEnd(*manager_, options, hosted ? RunHost : nullptr, &host_);
  spinner.Stop();
  return true;
}

const std::vector<Ref<disc::IDeviceInfoX>>& ConsoleScan::devices() const {
  return manager_ ? manager_->devices() : kNone;
}

bool ConsoleScan::NothingSent(const char* command) const {
  if (result_.datagrams.interfaces != 0) return false;
  for (const std::string& line : NothingSentLines(result_.datagrams)) Error(command, line);
  return true;
}

}  // namespace qs::cli
