// One datagram scan of the device manager, for bench/discover-1000.sh: prints
// how many records it ended with and how long it took. The KV-xR library is
// left out so that only the program's own scan is measured.
//   discover-scan-probe [--default-buffer]
#include <cstdio>
#include <cstring>

#include "discovery/device_manager.h"
#include "platform/socket.h"
#include "platform/tick.h"

namespace {
int32_t KVXR_CALL NoMode(int32_t) { return 0; }
int32_t KVXR_CALL NoScan(int32_t, KVxR_DeviceCallback, KVxR_DoneCallback) { return -1; }
int32_t KVXR_CALL NoSerial(int32_t, KVxR_WCHAR*, uint32_t) { return -100; }
int32_t KVXR_CALL NoId(int32_t, uint8_t*) { return -100; }
const qs::disc::LibraryApi kNoLibrary = {NoMode, NoScan, NoSerial, NoId};
}  // namespace

int main(int argc, char** argv) {
  using namespace qs;
  bool defaultBuffer = argc > 1 && std::strcmp(argv[1], "--default-buffer") == 0;
  plat::SocketsLibrary sockets;
  if (!sockets.ok()) return 1;
  auto* mgr = CreateObject<RCObject2<disc::DeviceManager>>(kNoLibrary);
  if (defaultBuffer) mgr->SetScanReceiveBuffer(0);
  const uint32_t start = plat::TickCount();
  mgr->Scan();
  const uint32_t ms = plat::TicksSince(start);
  const disc::ScanStats& st = mgr->lastScan();
  std::printf("records=%zu datagrams=%zu errors=%zu interfaces=%zu scan_ms=%u collect_ms=%u hard_limit=%d buffer=%s\n",
              mgr->devices().size(), st.datagrams, st.errors, st.interfaces, static_cast<unsigned>(ms),
              static_cast<unsigned>(st.elapsedMs), st.hitHardLimit ? 1 : 0, defaultBuffer ? "default" : "4MiB");
  mgr->Release();
  return 0;
}
