// Boot messages of older boot loaders: one WPBootMsgWatcher per local
// adapter listens on UDP port 60889 and hands each "WPBOOT" to the object
// registered for the MAC address it carries (wp_messages.h). A watcher lives
// while at least one registration on its adapter exists; registrations and
// the watcher table change under one lock, so a registration never lands on
// a watcher that is stopping.
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/adapter_record.h"
#include "runtime/rc.h"

namespace qs::fw {

struct IBootMsgSync : IRefCounted {
  // On the watcher's thread: the device's boot message came from this port.
  // Only records and signals; the work happens on the receiver's own thread.
  virtual void OnBootMessage(uint16_t port) = 0;
};

// Hears boot messages of MAC addresses that no update job registered (recovery
// mode serves units stuck in their older boot loader).
struct IBootMsgAnySync : IRefCounted {
  // On the watcher's thread; only records and signals, as above.
  virtual void OnBootMessageFrom(const uint8_t mac[6], uint16_t port) = 0;
};

// Stores (or replaces) the registration for the MAC on the adapter's watcher,
// starting the watcher when there is none. false when it cannot be started.
bool RegisterBootMessages(const net::AdapterRecord& adapter, const uint8_t mac[6], IBootMsgSync* sync);
// Removes the MAC's registration when it is `sync`'s; the watcher stops with
// its last registration.
void UnregisterBootMessages(const net::AdapterRecord& adapter, const uint8_t mac[6], IBootMsgSync* sync);

// The adapter's watcher hands every boot message whose MAC has no registration
// to `any` (one such listener per watcher; a later one replaces it). The
// watcher also lives while it is set.
bool RegisterAnyBootMessages(const net::AdapterRecord& adapter, IBootMsgAnySync* any);
void UnregisterAnyBootMessages(const net::AdapterRecord& adapter, IBootMsgAnySync* any);

// Watchers running now (for tests).
size_t BootMsgWatcherCount();

}  // namespace qs::fw
