#include "firmware/programmer_xx.h"

#include <cstring>
#include <new>
#include <vector>

#include "firmware/callback_ctrl.h"
#include "firmware/product_data_stream.h"
#include "firmware/programmer_notification.h"
#include "firmware/range_write.h"
#include "firmware/update_status.h"
#include "platform/sha1.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::fw {

namespace {

// A stopped pass ends with this; the job then reports nothing.
constexpr int32_t kStopped = -0x7FFF;

struct Chunk {
  uint32_t address = 0;
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  Ref<IBinaryImageChunk> ref;
};

bool TakeChunk(IBinaryImage* image, int32_t i, Chunk& out) {
  IBinaryImageChunk* c = nullptr;
  if (!image->GetChunk(i, &c) || !c) return false;
  out.ref = Ref<IBinaryImageChunk>::Adopt(c);
  uint64_t size = ChunkSize(c);
  if (size == 0 || size > 0xFFFFFFFFull - 4) return false;
  out.address = c->GetStartAddress();
  out.size = static_cast<uint32_t>(size);
  out.data = c->GetData();
  return out.data != nullptr;
}

int32_t SendStatus(int r) { return r == plat::kSockStopped ? kStopped : KVXR_UPDATE_SEND_FAILED; }

enum class Match { Same, Differs };

// Asks the device for the digest of the chunk's range: Same/Differs in
// `match`, else the failure status.
int32_t CompareChunk(StreamConnection& c, const Chunk& chunk, const plat::Event& stop, JobLog& log, Match* match) {
  uint8_t req[kRangeRequestSize];
  if (!EncodeDigestRequest(chunk.address, chunk.size, req)) return KVXR_UPDATE_NO_CHUNK;
  int r = c.Send(req, sizeof req, plat::WaitLimit{kSendLimitMs, stop.object()});
  if (r != plat::kSockOk) {
    log(LogKind::Outcome, "digest request for 0x%08X not sent", chunk.address);
    return SendStatus(r);
  }
  StreamReply reply;
  StreamConnection::Got g = c.Next(reply, plat::WaitLimit{kReplyLimitMs, stop.object()});
  if (g == StreamConnection::Got::Stopped) return kStopped;
  if (g != StreamConnection::Got::Reply) {
    log(LogKind::Outcome, "no digest for 0x%08X (%s)", chunk.address,
        g == StreamConnection::Got::Timeout ? "time-out" : "stream failed");
    return KVXR_UPDATE_BAD_DIGEST;
  }
  if (reply.kind != ReplyKind::Digest) {
    log(LogKind::Outcome, "message %.4s (%u bytes) instead of a digest", reply.tag, reply.length);
    return KVXR_UPDATE_BAD_DIGEST;
  }
  uint8_t mine[plat::kSha1Size];
  if (!plat::Sha1Digest(chunk.data, chunk.size, mine)) return KVXR_UPDATE_NO_CHUNK;
  *match = std::memcmp(mine, reply.data, kDigestSize) == 0 ? Match::Same : Match::Differs;
  log(LogKind::Received, "digest of 0x%08X+%u: %s", chunk.address, chunk.size,
      *match == Match::Same ? "matches" : "differs");
  return 0;
}

}  // namespace

// One write request: sends from the caller's memory without ever waiting in a
// send, and handles the device's messages while data still go out.
int32_t WriteRange(StreamConnection& c, WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size,
                   const plat::Event& stop, JobLog& log, ChunkProgressFn progress, void* context) {
  const Chunk chunk{address, size, data, {}};
  uint8_t head[kWriteHeadSize];
  if (!EncodeWriteHead(tag, chunk.address, chunk.size, head)) return KVXR_UPDATE_NO_CHUNK;
  int r = c.Send(head, sizeof head, plat::WaitLimit{kSendLimitMs, stop.object()});
  if (r != plat::kSockOk) return SendStatus(r);
  log(LogKind::Sent, "write 0x%08X+%u", chunk.address, chunk.size);
  RangeWrite w(chunk.address, chunk.size);
  uint32_t lastActivity = plat::TickCount();
  uint32_t lastPercent = 0xFFFFFFFF;
  if (progress) progress(context, 0);
  for (;;) {
    StreamReply reply;
    StreamConnection::Got g;
    while ((g = c.Poll(reply)) == StreamConnection::Got::Reply) {
      lastActivity = plat::TickCount();
      uint32_t percent = 0;
      RangeWrite::Event e = w.OnReply(reply, percent);
      if (e == RangeWrite::Event::DeviceError) {
        log(LogKind::Outcome, "the device answered ERRO at 0x%08X", w.position());
        return KVXR_UPDATE_DEVICE_ERROR;
      }
      if (e == RangeWrite::Event::Progress && progress && percent != lastPercent) {
        lastPercent = percent;
        progress(context, percent);
      }
    }
    if (g != StreamConnection::Got::Nothing) {
      log(LogKind::Outcome, "stream failed during the write of 0x%08X", chunk.address);
      return KVXR_UPDATE_SEND_FAILED;
    }
    if (w.Succeeded()) {
      log(LogKind::Received, "write of 0x%08X finished", chunk.address);
      return 1;
    }
    if (!w.AllSent()) {
      size_t offset = 0;
      size_t n = w.NextPiece(offset);
      int sent = c.SendSome(chunk.data + offset, n);
      if (sent > 0) {
        w.Sent(static_cast<size_t>(sent));
        lastActivity = plat::TickCount();
        continue;
      }
      if (sent != plat::kSockWouldBlock) {
        log(LogKind::Outcome, "send failed at 0x%08X", static_cast<uint32_t>(chunk.address + offset));
        return KVXR_UPDATE_SEND_FAILED;
      }
    }
    uint32_t idle = plat::TicksSince(lastActivity);
    if (idle >= kWriteIdleMs) {
      log(LogKind::Outcome, "nothing heard for %u ms during the write of 0x%08X (%s)", kWriteIdleMs, chunk.address,
          w.AllSent() ? "all sent" : "not writable");
      return KVXR_UPDATE_SEND_FAILED;
    }
    int wr = c.WaitReady(!w.AllSent(), plat::WaitLimit{kWriteIdleMs - idle, stop.object()});
    if (wr == plat::kSockStopped) return kStopped;
    if (wr != plat::kSockOk && wr != plat::kSockTimeout) return KVXR_UPDATE_SEND_FAILED;
  }
}

int32_t SendApply(StreamConnection& c, const plat::Event& stop, JobLog& log) {
  uint8_t appl[kStreamHeaderSize];
  EncodeApply(appl);
  int r = c.Send(appl, sizeof appl, plat::WaitLimit{kSendLimitMs, stop.object()});
  if (r != plat::kSockOk) return SendStatus(r);
  log(LogKind::Sent, "APPL");
  return 0;
}

namespace {

// Compares every chunk; the first failure ends it. all: every chunk matched.
int32_t ComparePass(StreamConnection& c, IBinaryImage* image, const plat::Event& stop, JobLog& log,
                    std::vector<bool>& differs, bool* all) {
  const int32_t count = image->GetChunkCount();
  differs.assign(count > 0 ? static_cast<size_t>(count) : 0, false);
  *all = true;
  for (int32_t i = 0; i < count; ++i) {
    Chunk chunk;
    if (!TakeChunk(image, i, chunk)) return KVXR_UPDATE_NO_CHUNK;
    Match m = Match::Same;
    int32_t st = CompareChunk(c, chunk, stop, log, &m);
    if (st != 0) return st;
    differs[static_cast<size_t>(i)] = m == Match::Differs;
    if (m == Match::Differs) *all = false;
  }
  return 0;
}

}  // namespace

int32_t RunFirmwarePasses(StreamConnection& c, IBinaryImage* image, const plat::Event& stop, JobLog& log,
                          ChunkProgressFn progress, void* context) {
  std::vector<bool> differs;
  bool all = false;
  int32_t st = ComparePass(c, image, stop, log, differs, &all);
  if (st != 0) return st;
  if (all) {
    log(LogKind::Outcome, "every chunk matches: nothing to write");
    st = SendApply(c, stop, log);
    return st != 0 ? st : KVXR_UPDATE_UP_TO_DATE;
  }
  for (size_t i = 0; i < differs.size(); ++i) {
    if (!differs[i]) continue;
    Chunk chunk;
    if (!TakeChunk(image, static_cast<int32_t>(i), chunk)) return KVXR_UPDATE_NO_CHUNK;
    st = WriteRange(c, WriteTag::Firmware, chunk.address, chunk.data, chunk.size, stop, log, progress, context);
    if (st < 0) return st;
  }
  std::vector<bool> still;
  st = ComparePass(c, image, stop, log, still, &all);
  if (st != 0) return st;
  if (!all) {
    log(LogKind::Outcome, "a chunk still differs after writing");
    return KVXR_UPDATE_STILL_DIFFERS;
  }
  st = SendApply(c, stop, log);
  return st != 0 ? st : KVXR_UPDATE_WRITTEN;
}

namespace {

class ProgrammerXX : public InterfaceImpl<IProgrammer>, public InterfaceImpl<IThreadEntry> {
 public:
  ProgrammerXX(const StreamJobConfig& config, ILogSink* log)
      : config_(config), job_(NewJobNumber()), log_(log, "stream") {}
  virtual ~ProgrammerXX() = default;

  uint32_t GetJobId() override { return job_; }

  bool Start(Ref<IPoolJob>* control) override {
    IThreadEntry* e = static_cast<IThreadEntry*>(this);
    return RunOnPool(e, control);
  }

  void Run(const plat::Event& stop) override {
    int32_t st = KVXR_UPDATE_NO_CONNECTION;
    try {
      st = Work(stop);
    } catch (...) {
      st = KVXR_UPDATE_SEND_FAILED;  // out of memory mid-job: the stream is lost
    }
    if (stop.IsSet() || st == kStopped) return;  // the update job has let go: nobody listens
    ProgrammerNotification n;
    n.job = job_;
    n.kind = kKindEnded;
    n.result = st;
    PostStreamNotification(n);
  }

 private:
  int32_t Work(const plat::Event& stop) {
    plat::SocketsLibrary sockets;
    StreamConnection c;
    int r = c.Connect(config_.address, config_.port, config_.localAddress,
                      plat::WaitLimit{kConnectLimitMs, stop.object()});
    int32_t st;
    if (r == plat::kSockStopped) {
      st = kStopped;
    } else if (r != plat::kSockOk) {
      log_(LogKind::Outcome, "no connection to %s:%u (%s)", bytes::FormatIpv4(config_.address).c_str(), config_.port,
           r == plat::kSockTimeout ? "time-out" : "refused or unreachable");
      st = KVXR_UPDATE_NO_CONNECTION;
    } else {
      log_(LogKind::Note, "connected to %s:%u", bytes::FormatIpv4(config_.address).c_str(), config_.port);
      st = config_.work == StreamWork::Firmware ? FirmwareJob(c, stop) : ProductDataJob(c, stop);
      c.Close();
    }
    return st;
  }

  int32_t FirmwareJob(StreamConnection& c, const plat::Event& stop) {
    DeviceLog deviceLog(config_.deviceId);
    int32_t st = 0;
    if (config_.productData) st = RunProductDataStep(c, stop, log_, deviceLog);
    if (st >= 0) st = RunFirmwarePasses(c, config_.image.get(), stop, log_, &ProgrammerXX::OnProgress, this);
    // Whatever the result: the file tells what the job found.
    if (config_.writeLog) deviceLog.Write();
    return st;
  }

  int32_t ProductDataJob(StreamConnection& c, const plat::Event& stop) {
    if (config_.work == StreamWork::ReadProductData) return RunProductDataRead(c, stop, log_, config_.productBuffer.get());
    return RunProductDataErase(c, stop, log_);
  }

  static void OnProgress(void* context, uint32_t percent) {
    auto* self = static_cast<ProgrammerXX*>(context);
    ProgrammerNotification n;
    n.job = self->job_;
    n.kind = kKindProgramming;
    n.value = static_cast<int32_t>(percent);
    PostStreamNotification(n);
  }

  StreamJobConfig config_;
  uint32_t job_;
  JobLog log_;
};

}  // namespace

bool CreateStreamJob(const StreamJobConfig& config, ILogSink* log, Ref<IProgrammer>* out) {
  out->reset();
  if (config.work == StreamWork::Firmware && !config.image) return false;
  if (config.work == StreamWork::ReadProductData && !config.productBuffer) return false;
  auto* job = new (std::nothrow) RCObject2Ex<ProgrammerXX>(config, log);
  if (!job) return false;
  *out = static_cast<IProgrammer*>(job);
  return true;
}

}  // namespace qs::fw
