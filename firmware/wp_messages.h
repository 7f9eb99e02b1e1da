// The older boot loader's datagrams on UDP port 60889 and the upload of the
// RAM program that follows them. Integers are little-endian; tags are six
// ASCII characters; a job identifier is a 16-byte UUID made by the library.
//
// Watcher hello, library -> 255.255.255.255:60889, 1 byte: 0xFD.
//
// Boot message "WPBOOT", device -> library, port 60889, at least 30 bytes:
//   0   6   "WPBOOT"
//   6   18  zero (not read)
//   24  6   the device's MAC address
//
// Offer "WPOFFR", library -> 255.255.255.255 at the boot message's source
// port, 36 bytes:
//   0   6   "WPOFFR"
//   6   2   12 (the bytes after the job identifier)
//   8   16  job identifier
//   24  6   device MAC address
//   30  2   reserved, zero
//   32  4   offered IPv4 address, the number whose most significant byte is
//           the first octet (so 192.168.1.20 goes out as 14 01 A8 C0)
//
// Selection "WPSLCT", device -> library, at least 24 bytes:
//   0   6   "WPSLCT"
//   6   2   16, the bytes after this word (not read)
//   8   16  job identifier
//
// Image block "WPIMAG", library -> the address and port the selection came
// from, 28 + L bytes:
//   0   6   "WPIMAG"
//   6   2   L + 4
//   8   16  job identifier
//   24  4   block number, from 0
//   28  L   program bytes from offset block number x 512; L is the smaller of
//           512 and the bytes left (the block after a program that ends on a
//           block boundary is empty)
//
// Acknowledgement "WPACKL", device -> library, at least 28 bytes:
//   0   6   "WPACKL"
//   6   2   20, the bytes after this word (not read)
//   8   16  job identifier
//   24  4   number of the block acknowledged
//
// A selection or acknowledgement shorter than its fixed part counts as an
// unrelated datagram. A program of S bytes is uploaded as S / 512 + 1 blocks
// (integer division): 107,404 bytes make 210 blocks, the last of 396 bytes;
// 1024 bytes make 3, the last empty.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::fw {

constexpr uint16_t kBootPort = 60889;
constexpr uint8_t kWatcherHello = 0xFD;
constexpr size_t kBootMessageSize = 30;
constexpr size_t kOfferSize = 36;
constexpr size_t kSelectionSize = 24;
constexpr size_t kImageHeadSize = 28;
constexpr size_t kAcknowledgementSize = 28;
constexpr size_t kUploadBlockSize = 512;

// S / 512 + 1.
size_t UploadBlockCount(size_t programSize);

// Library side.
bool ParseBootMessage(const uint8_t* p, size_t len, uint8_t mac[6]);
void EncodeOffer(const uint8_t jobId[16], const uint8_t mac[6], uint32_t offeredAddress, uint8_t out[kOfferSize]);
// Block of the program (L from 0 to 512 bytes); false when the block lies
// beyond the upload's last block.
bool EncodeImageBlock(const uint8_t jobId[16], uint32_t block, const uint8_t* program, size_t programSize,
                      std::vector<uint8_t>& out);

enum class WpAnswerKind { Selection, Acknowledgement, Other };
struct WpAnswer {
  WpAnswerKind kind = WpAnswerKind::Other;
  const uint8_t* jobId = nullptr;  // into the datagram
  uint32_t block = 0;              // Acknowledgement
};
WpAnswer ParseAnswer(const uint8_t* p, size_t len);

// Device side (the simulator and tests).
void EncodeBootMessage(const uint8_t mac[6], uint8_t out[kBootMessageSize]);
struct WpOffer {
  const uint8_t* jobId = nullptr;
  const uint8_t* mac = nullptr;
  uint32_t address = 0;
};
// Exactly 36 bytes, "WPOFFR", the word 12.
bool ParseOffer(const uint8_t* p, size_t len, WpOffer& out);
void EncodeSelection(const uint8_t jobId[16], uint8_t out[kSelectionSize]);
struct WpImageBlock {
  const uint8_t* jobId = nullptr;
  uint32_t block = 0;
  const uint8_t* bytes = nullptr;
  size_t length = 0;
};
// "WPIMAG", L at most 512, the length word L + 4 and the datagram 28 + L bytes.
bool ParseImageBlock(const uint8_t* p, size_t len, WpImageBlock& out);
void EncodeAcknowledgement(const uint8_t jobId[16], uint32_t block, uint8_t out[kAcknowledgementSize]);

}  // namespace qs::fw
