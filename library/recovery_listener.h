// The recovery scan's listener (Scanner::Module): one per local adapter. It
// broadcasts the recovery request (recovery_wire.h) every 500 ms, listing the
// devices it watches, and hears the announcements of boot loaders.
//
// Two kinds of users:
// - handlers (recovery mode) hear every identifier once per handler;
// - watches (an update job waiting for its device) hear the first
//   announcement of their identifier that comes after the watch was set,
//   whether or not the listener knew the identifier before. So a second
//   update of a device in the same process sees the device come back, like
//   the first.
// A listener lives while it has users; the last one to go stops it and takes
// it out of the library-wide table, under the table's lock, so a new user
// never joins a listener that is stopping.
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/adapter_record.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"

namespace qs::kvxr {

constexpr uint32_t kRecoveryResendMs = 500;

struct RecoveryReport {
  uint8_t id[16] = {};
  uint32_t address = 0;  // the announcement's sender
  uint8_t mac[6] = {};
  uint16_t port = 0;     // the boot loader's programming port
  net::AdapterRecord adapter;
};

struct IRecoveryHandler : IRefCounted {
  // On the listener's thread, no lock held.
  virtual void OnRecoveryReport(const RecoveryReport& r) = 0;
};

// A user's hold on the listener of an adapter.
struct IScanner : IRefCounted {
  virtual bool AddHandler(IRecoveryHandler* h) = 0;
  virtual void RemoveHandler(IRecoveryHandler* h) = 0;
  // Datagrams the listener has sent (for tests).
  virtual uint64_t RequestsSent() = 0;
};

// Holding it keeps the watch (and the listener); releasing it ends both.
struct IRecoveryWatch : IRefCounted {};

// Finds the adapter's listener or starts one. false when none could be started.
bool GetRecoveryListener(const net::AdapterRecord& adapter, ILogSink* log, Ref<IScanner>* out);

// Watches for the device's announcement on the adapter for at most
// lifetimeMs; `handler` hears it once. The device's last known address goes
// into the log only: a boot loader may come back at another address.
bool WatchForDevice(const net::AdapterRecord& adapter, const uint8_t id[16], uint32_t lastAddress,
                    uint32_t lifetimeMs, IRecoveryHandler* handler, ILogSink* log, Ref<IRecoveryWatch>* out);

// Listeners running now (for tests).
size_t RecoveryListenerCount();

}  // namespace qs::kvxr
