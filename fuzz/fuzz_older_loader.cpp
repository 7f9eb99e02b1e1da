// The older boot loader's session driven by a fuzzed device: whatever
// arrives, it only ever sends the offer or blocks of the program in range,
// and it finishes, with one of its statuses, within a bounded number of
// steps once the input is used up (the device then stays silent).
// Input: [program size, 2 bytes] then events: a byte 0 = time-out, 1 =
// receive error, 2 = a time-out after which the next send fails, 3 = an acknowledgement of the next
// byte's block number, 4 = the selection, else a datagram of (byte - 4) bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/older_loader_session.h"
#include "firmware/update_status.h"
#include "firmware/wp_messages.h"

using namespace qs::fw;

namespace {
const uint8_t kJob[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint8_t kMac[6] = {2, 0, 0, 0, 0, 1};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t programSize = (size_t{data[0]} << 8 | data[1]) % 8192;
  std::vector<uint8_t> program(programSize, 0x5A);
  OlderLoaderSession s(kJob, kMac, 0x0A470063, 50000, program.data(), program.size());
  const size_t blocks = UploadBlockCount(programSize);
  size_t i = 2;
  uint32_t now = 0;
  bool failNext = false;
  OlderLoaderSession::Action a = s.Start(now);
  // Each input byte answers one receive, which may lead to one send; after
  // the input ends only time-outs come, and five of them end any step.
  const size_t bound = 2 * size + 32;
  for (size_t step = 0; step < bound; ++step) {
    now += 7;
    if (a.what == OlderLoaderSession::Do::Finish) {
      const int32_t st = a.status;
      if (st != kOldDone && st != kOldOtherJob && st != kOldNoAnswer && st != kOldOnlyUnrelated &&
          st != kOldNotAcknowledgement && st != kOldBeyondLastBlock && st != kOldTriesExhausted &&
          st != kOldSendFailed)
        std::abort();
      return 0;
    }
    if (a.what == OlderLoaderSession::Do::Send) {
      WpOffer o;
      WpImageBlock b;
      if (ParseOffer(a.datagram->data(), a.datagram->size(), o)) {
        if (std::memcmp(o.jobId, kJob, 16) != 0) std::abort();
      } else if (ParseImageBlock(a.datagram->data(), a.datagram->size(), b)) {
        if (b.block >= blocks || std::memcmp(b.jobId, kJob, 16) != 0) std::abort();
      } else {
        std::abort();
      }
      a = s.OnSent(!failNext, now);
      failNext = false;
      continue;
    }
    if (a.timeoutMs == 0 || a.timeoutMs > 5000) std::abort();
    if (i >= size) {
      now += a.timeoutMs;
      a = s.OnTimeout(now);
      continue;
    }
    const uint8_t op = data[i++];
    if (op == 0) {
      now += a.timeoutMs;
      a = s.OnTimeout(now);
    } else if (op == 1) {
      a = s.OnReceiveError(now);
    } else if (op == 2) {
      failNext = true;
      a = s.OnTimeout(now + a.timeoutMs);
    } else if (op == 3) {
      uint8_t ack[kAcknowledgementSize];
      EncodeAcknowledgement(kJob, i < size ? data[i++] : 0, ack);
      a = s.OnDatagram(ack, sizeof ack, UdpEndpoint{1, 2}, now);
    } else if (op == 4) {
      uint8_t sel[kSelectionSize];
      EncodeSelection(kJob, sel);
      a = s.OnDatagram(sel, sizeof sel, UdpEndpoint{1, 2}, now);
    } else {
      size_t n = op - 4u;
      if (n > size - i) n = size - i;
      a = s.OnDatagram(data + i, n, UdpEndpoint{1, 2}, now);
      i += n;
    }
  }
  std::abort();  // did not finish
}
