// The streamed RAM program: one Streamer per local adapter sends the boot-time
// RAM program round and round as multicast datagrams (stream_block.h), one
// every 5 ms (stream_pacer.h), naming the devices it is meant for. Update
// jobs add their device and hold the streamer while they wait for the device;
// recovery mode holds one on every adapter without naming devices.
//
// A holder's reference (IStreamingProgrammer) keeps the stream going; when
// the last one goes, the streamer leaves the table and its thread stops, so a
// later registration on that adapter starts a new streamer with a fresh
// lifetime. Holders are counted under the table's lock, so a registration
// never joins a streamer that is stopping.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/stream_block.h"
#include "net/adapter_record.h"
#include "runtime/rc.h"

namespace qs::fw {

// The program's bytes; valid for as long as any streamer or upload uses them.
struct ProgramBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

constexpr uint32_t kStreamLifetimeForever = 0xFFFFFFFF;
// How long a stopping streamer's last holder waits for its thread.
constexpr uint32_t kStreamerStopWaitMs = 2000;

// A holder's reference: keeps the streamer's stream going.
struct IStreamingProgrammer : IRefCounted {};

// The streamer itself.
struct IStreamingProgrammerEx : IRefCounted {
  // Appends the identifier (twice added, twice listed); the next send uses
  // the rebuilt list.
  virtual bool AddDevice(const DeviceId& id) = 0;
  // Datagrams sent so far (for tests and logs).
  virtual uint64_t SentCount() = 0;
};

// Finds the adapter's streamer or starts one, adds the device when `id` is
// given and hands out a holder's reference. The stream runs at least
// lifetimeMs from this registration: a later one extends the lifetime of a
// streamer that others hold (also once it has passed), never shortens it.
// false when no streamer could be started.
bool RegisterForStreaming(const net::AdapterRecord& adapter, const DeviceId* id, uint32_t lifetimeMs,
                          const ProgramBytes& program, Ref<IStreamingProgrammer>* out);

// The streamer behind a holder's reference (same object for holders that share it).
IStreamingProgrammerEx* StreamerOf(IStreamingProgrammer* holder);
// Streamers in the table now.
size_t StreamerCount();

}  // namespace qs::fw
