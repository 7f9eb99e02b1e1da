// The stream job (ProgrammerXX): the TCP half of an update. It connects to
// the programming port a boot loader announced and runs the firmware job:
// a compare pass that asks the device for the SHA-1 of every chunk's range,
// a write pass for the chunks that differ, a verify pass over all chunks,
// then "APPL" (the device starts its application). Its progress and its end
// go to its update job as records through CallbackCtrl (callback_ctrl.h).
//
// Bounds (so that a stream job never outlives its update job's interest):
// the connect gives up after kConnectLimitMs (-23); a request that cannot be
// sent within kSendLimitMs fails (-104); a digest reply is awaited
// kReplyLimitMs (-24); during a write, kWriteIdleMs with nothing sent and
// nothing heard fails the write (-104). Every wait also ends on the job's
// stop event; a stopped job reports nothing.
#pragma once
#include <cstdint>

#include "firmware/binary_image.h"
#include "firmware/device_log.h"
#include "firmware/product_data.h"
#include "firmware/stream_connection.h"
#include "platform/event.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"
#include "runtime/thread.h"

namespace qs::fw {

constexpr uint32_t kConnectLimitMs = 10000;
constexpr uint32_t kSendLimitMs = 15000;
constexpr uint32_t kReplyLimitMs = 15000;
constexpr uint32_t kWriteIdleMs = 10000;

// What a stream job does once connected: the firmware job, or one of the
// product-data jobs (product_data_stream.h).
enum class StreamWork { Firmware, ReadProductData, EraseProductData };

struct StreamJobConfig {
  uint32_t address = 0;       // the boot loader's address
  uint16_t port = 0;          // its programming port
  uint32_t localAddress = 0;  // the adapter to connect from (0: any)
  StreamWork work = StreamWork::Firmware;
  Ref<IBinaryImage> image;    // what to write (firmware job)
  bool productData = false;   // the firmware job checks and migrates the product data first
  Ref<ProductDataBuffer> productBuffer;  // where the read job puts the 512 bytes
  uint8_t deviceId[16] = {};
  bool writeLog = true;       // write the device log file at the end
};

struct IProgrammer : IRefCounted {
  // The number its records carry.
  virtual uint32_t GetJobId() = 0;
  // Queues the job on the pool; `control` receives its stop and end.
  virtual bool Start(Ref<IPoolJob>* control) = 0;
};

// false when the job cannot be made (a firmware job without an image, a read
// job without a buffer, out of memory).
bool CreateStreamJob(const StreamJobConfig& config, ILogSink* log, Ref<IProgrammer>* out);

// The firmware job's passes over an open connection; the job's final status
// (1 written, 0 already current, or a failure). progress(percent) hears
// every change of a written chunk's progress.
using ChunkProgressFn = void (*)(void* context, uint32_t percent);
int32_t RunFirmwarePasses(StreamConnection& c, IBinaryImage* image, const plat::Event& stop, JobLog& log,
                          ChunkProgressFn progress, void* context);

// One write request of size bytes from data (1 when written and finished,
// else its failure); progress as above.
int32_t WriteRange(StreamConnection& c, WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size,
                   const plat::Event& stop, JobLog& log, ChunkProgressFn progress, void* context);
// "APPL": 0 when sent, else the failure.
int32_t SendApply(StreamConnection& c, const plat::Event& stop, JobLog& log);

}  // namespace qs::fw
