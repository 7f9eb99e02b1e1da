// The older boot loader's datagrams, both sides: what a parser accepts is
// read from inside the datagram and rebuilt the same by the encoders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/wp_messages.h"

using namespace qs::fw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t mac[6];
  if (ParseBootMessage(data, size, mac)) {
    if (size < kBootMessageSize || std::memcmp(mac, data + 24, 6) != 0) std::abort();
  }
  const WpAnswer a = ParseAnswer(data, size);
  if (a.kind != WpAnswerKind::Other && (a.jobId != data + 8 || size < kSelectionSize)) std::abort();
  if (a.kind == WpAnswerKind::Acknowledgement) {
    uint8_t again[kAcknowledgementSize];
    EncodeAcknowledgement(a.jobId, a.block, again);
    if (std::memcmp(again, data, 6) != 0 || std::memcmp(again + 8, data + 8, 20) != 0) std::abort();
  }
  WpOffer o;
  if (ParseOffer(data, size, o)) {
    uint8_t again[kOfferSize];
    EncodeOffer(o.jobId, o.mac, o.address, again);
    if (std::memcmp(again, data, 30) != 0 || std::memcmp(again + 32, data + 32, 4) != 0) std::abort();
  }
  WpImageBlock b;
  if (ParseImageBlock(data, size, b)) {
    if (b.length > kUploadBlockSize || b.bytes + b.length != data + size) std::abort();
    // As the block of a program that has it at its place.
    std::vector<uint8_t> program(size_t{b.block % 8} * kUploadBlockSize + b.length);
    if (b.length) std::memcpy(program.data() + program.size() - b.length, b.bytes, b.length);
    std::vector<uint8_t> again;
    if (!EncodeImageBlock(b.jobId, b.block % 8, program.data(), program.size(), again)) std::abort();
    if (again.size() != size || std::memcmp(again.data() + 28, data + 28, b.length) != 0) std::abort();
  }
  return 0;
}
