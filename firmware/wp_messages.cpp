#include "firmware/wp_messages.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::fw {

namespace {
bool Tagged(const uint8_t* p, size_t len, const char* tag) { return p && len >= 6 && std::memcmp(p, tag, 6) == 0; }
}  // namespace

size_t UploadBlockCount(size_t programSize) { return programSize / kUploadBlockSize + 1; }

bool ParseBootMessage(const uint8_t* p, size_t len, uint8_t mac[6]) {
  if (len < kBootMessageSize || !Tagged(p, len, "WPBOOT")) return false;
  std::memcpy(mac, p + 24, 6);
  return true;
}

void EncodeOffer(const uint8_t jobId[16], const uint8_t mac[6], uint32_t offeredAddress, uint8_t out[kOfferSize]) {
  std::memcpy(out, "WPOFFR", 6);
  bytes::PutLe16(out + 6, 12);
  std::memcpy(out + 8, jobId, 16);
  std::memcpy(out + 24, mac, 6);
  bytes::PutLe16(out + 30, 0);
  bytes::PutLe32(out + 32, offeredAddress);
}

bool EncodeImageBlock(const uint8_t jobId[16], uint32_t block, const uint8_t* program, size_t programSize,
                      std::vector<uint8_t>& out) {
  out.clear();
  if (block >= UploadBlockCount(programSize)) return false;
  const size_t offset = size_t{block} * kUploadBlockSize;
  const size_t left = programSize - offset;
  const size_t length = left < kUploadBlockSize ? left : kUploadBlockSize;
  out.resize(kImageHeadSize + length);
  std::memcpy(out.data(), "WPIMAG", 6);
  bytes::PutLe16(out.data() + 6, static_cast<uint16_t>(length + 4));
  std::memcpy(out.data() + 8, jobId, 16);
  bytes::PutLe32(out.data() + 24, block);
  if (length) std::memcpy(out.data() + kImageHeadSize, program + offset, length);
  return true;
}

WpAnswer ParseAnswer(const uint8_t* p, size_t len) {
  WpAnswer a;
  if (len >= kSelectionSize && Tagged(p, len, "WPSLCT")) {
    a.kind = WpAnswerKind::Selection;
    a.jobId = p + 8;
  } else if (len >= kAcknowledgementSize && Tagged(p, len, "WPACKL")) {
    a.kind = WpAnswerKind::Acknowledgement;
    a.jobId = p + 8;
    a.block = bytes::GetLe32(p + 24);
  }
  return a;
}

void EncodeBootMessage(const uint8_t mac[6], uint8_t out[kBootMessageSize]) {
  std::memset(out, 0, kBootMessageSize);
  std::memcpy(out, "WPBOOT", 6);
  std::memcpy(out + 24, mac, 6);
}

bool ParseOffer(const uint8_t* p, size_t len, WpOffer& out) {
  if (len != kOfferSize || !Tagged(p, len, "WPOFFR") || bytes::GetLe16(p + 6) != 12) return false;
  out.jobId = p + 8;
  out.mac = p + 24;
  out.address = bytes::GetLe32(p + 32);
  return true;
}

void EncodeSelection(const uint8_t jobId[16], uint8_t out[kSelectionSize]) {
  std::memcpy(out, "WPSLCT", 6);
  bytes::PutLe16(out + 6, 16);
  std::memcpy(out + 8, jobId, 16);
}

bool ParseImageBlock(const uint8_t* p, size_t len, WpImageBlock& out) {
  if (len < kImageHeadSize || len > kImageHeadSize + kUploadBlockSize || !Tagged(p, len, "WPIMAG")) return false;
  const size_t length = len - kImageHeadSize;
  if (bytes::GetLe16(p + 6) != length + 4) return false;
  out.jobId = p + 8;
  out.block = bytes::GetLe32(p + 24);
  out.bytes = p + kImageHeadSize;
  out.length = length;
  return true;
}

void EncodeAcknowledgement(const uint8_t jobId[16], uint32_t block, uint8_t out[kAcknowledgementSize]) {
  std::memcpy(out, "WPACKL", 6);
  bytes::PutLe16(out + 6, 20);
  std::memcpy(out + 8, jobId, 16);
  bytes::PutLe32(out + 24, block);
}

}  // namespace qs::fw
