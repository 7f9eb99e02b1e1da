// The update job (ProgrammerEx): updates one KV-xR device with a firmware
// image. On its pooled thread it
//   1. starts serving the device's older boot loader (older_bootloader_support.h)
//      and names the device to the adapter's RAM-program stream (streamer.h);
//   2. asks the device to restart into its boot loader: "Reboot" to its port
//      9010, the challenge, the answer (reboot_challenge.h), within 5 s;
//   3. waits up to 60 s for the boot loader's announcement on the recovery
//      scan (recovery_listener.h), telling the seconds left once a second;
//   4. runs the stream job (programmer_xx.h) against the announced port and
//      forwards its progress, giving up after 15 s without a word from it.
// Every record (kind 1 preparing, 3 programming, 4 ended) goes to the host
// thread through progress_route.h; kind 4 goes exactly once, with the final
// status (update_status.h). Every wait also ends on the job's stop event
// (library shutdown); a stopped job reports nothing more and stops its
// stream job.
#pragma once
#include <cstdint>

#include "firmware/binary_image.h"
#include "firmware/programmer_xx.h"
#include "firmware/streamer.h"
#include "net/adapter_record.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"
#include "runtime/thread.h"

namespace qs::fw {

constexpr uint32_t kChallengeWaitMs = 5000;
constexpr uint32_t kDeviceWaitMs = 60000;
constexpr uint32_t kDeviceWaitSliceMs = 1000;
constexpr uint32_t kStreamSilenceMs = 15000;
// How long the starter waits for the job's thread to begin.
constexpr uint32_t kStartWaitMs = 10000;

struct UpdateJobConfig {
  uint32_t deviceAddress = 0;
  net::AdapterRecord adapter;
  uint8_t mac[6] = {};
  uint8_t deviceId[16] = {};
  StreamWork work = StreamWork::Firmware;  // or a product-data read or erase
  Ref<IBinaryImage> image;
  bool productData = false;  // the firmware's version asks for the product-data step
  Ref<ProductDataBuffer> productBuffer;    // the read's 512 bytes
  ProgramBytes program;      // the boot-time RAM program
};

struct IProgrammerEx : IRefCounted {
  // The number its records carry.
  virtual uint32_t GetJobId() = 0;
  // A counted reference to the job's pool entry.
  virtual bool GetThreadEntry(Ref<IThreadEntry>* out) = 0;
  // Blocks until the job's thread has begun (at most kStartWaitMs); false
  // when it did not, or its thread could not start the sockets library.
  virtual bool WaitStarted() = 0;
  // The final status once kind 4 has gone out; false while it runs.
  virtual bool Finished(int32_t* status) = 0;
};

// false when the job cannot be made.
bool CreateUpdateJob(const UpdateJobConfig& config, ILogSink* log, Ref<IProgrammerEx>* out);

}  // namespace qs::fw
