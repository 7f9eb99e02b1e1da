// Serving one device's older boot loader during an update: waits for the
// device's boot message (boot_msg_watcher.h), offers it an IPv4 address (the
// one the machine's ARP cache gives for its MAC, else a free one drawn in the
// adapter's subnet) and uploads the RAM program block by block
// (older_loader_session.h). It works beside the update job, which learns that
// the device is back only from the recovery scan; the outcome is logged, not
// reported. Releasing the last reference cancels it.
#pragma once
#include <cstdint>

#include "firmware/streamer.h"
#include "net/adapter_record.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"

namespace qs::fw {

struct IOlderBootloaderSupport : IRefCounted {
  // Status of the offer and upload (update_status.h); 0 while under way or
  // never started.
  virtual int32_t Outcome() = 0;
};

// Creates the object and queues its thread. false on failure.
bool CreateOlderBootloaderSupport(uint32_t deviceAddress, const net::AdapterRecord& adapter, const uint8_t mac[6],
                                  const ProgramBytes& program, ILogSink* log, Ref<IOlderBootloaderSupport>* out);
// The same for a boot message already heard from bootPort (recovery mode): it
// makes the offer at once, without a registration of its own.
bool ServeOlderBootloader(const net::AdapterRecord& adapter, const uint8_t mac[6], uint16_t bootPort,
                          const ProgramBytes& program, ILogSink* log, Ref<IOlderBootloaderSupport>* out);

}  // namespace qs::fw
