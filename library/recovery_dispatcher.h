// Recovery mode's side of the exports: the recovery window that carries the
// registry's event records to the host thread, and the dispatcher that turns
// them into calls of the caller's recovery callback.
//
// Dispatcher, per record (host thread, no lock held during the call):
//   1      the MAC gets the next recovery device number (a MAC reported again
//          gets a new one; its earlier number is no longer known); the call
//          carries the address and MAC as text (recovery_text.h), value 0
//   3      the MAC's entry keeps the record's device key; value 0
//   2, 4   value A (preparation percent, programming percent)
//   5,6,7  value B (the programming result)
// Events of a MAC without an entry, and other events, call nothing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "library/KV-xR_update.h"
#include "net/adapter_record.h"
#include "platform/notify.h"

namespace qs::kvxr {


// One event as the registry raises it.
struct RecoveryEvent {
  uint8_t mac[6] = {};
  uint32_t address = 0;  // host order
  uint16_t port = 0;     // the boot loader's programming port
  net::AdapterRecord adapter;
  int32_t event = 0;
  int32_t valueA = 0;
  int32_t valueB = 0;
  uint32_t key = 0;  // the registry's device key
};

// Host thread: makes the recovery window under the host unless one is alive.
bool EnsureRecoveryWindow(plat::HostWindow host);
// Host thread: the callback from now on (null: none, and every entry goes).
void InstallRecoveryDispatcher(KVxR_RecoveryCallback cb);
// Any thread: false when the record was dropped (no window).
bool PostRecoveryEvent(const RecoveryEvent& e);
// The device key stored for the number by event 3; false when the number is
// not current or not ready.
bool FindRecoveryKey(int32_t number, uint32_t* key);

// For tests: the dispatcher's handling of one record, on the calling thread.
void DispatchRecoveryEvent(const RecoveryEvent& e);
size_t RecoveryEntryCount();

}  // namespace qs::kvxr
