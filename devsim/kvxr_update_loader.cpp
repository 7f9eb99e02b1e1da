// The two boot loaders and how each takes the RAM program:
//
// Stream-fed: joined to 239.0.0.64:60892 (firmware/stream_block.h), it takes
// the blocks of every datagram whose identifier list is empty or names it, in
// any order and over as many cycles as it takes. The program ends with its
// first block shorter than 512 bytes; a program of whole blocks ends once the
// stream has wrapped round and every block up to the highest is in.
//
// Older (firmware/wp_messages.h): it has no address; it broadcasts "WPBOOT"
// from port 60890 to port 60889 at once, every wpboot_interval and whenever a
// watcher's hello (0xFD) comes, until an offer "WPOFFR" names its MAC. It
// takes the offered address, answers "WPSLCT" to the offer's sender and then
// stores the "WPIMAG" blocks in order, acknowledging each ("WPACKL"; a block
// sent again gets its acknowledgement again). A block shorter than 512 bytes
// (also an empty one) is the last.
//
// Neither loader knows the program: it records size and SHA-1 for the tests.
#include <algorithm>
#include <cstring>

#include "devsim/kvxr_update.h"
#include "devsim/sim.h"
#include "firmware/stream_block.h"
#include "firmware/wp_messages.h"
#include "platform/sha1.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

bool UsableAddress(uint32_t a) {
  uint8_t first = static_cast<uint8_t>(a >> 24);
  return a != 0 && a != 0xFFFFFFFFu && first != 127 && first < 224;
}

}  // namespace

void KvxrUpdate::EnterLoader(Device& d) {
  S& s = State(d);
  CloseProgrammer(d);
  ++s.epoch;
  s.ram.clear();
  s.haveBlock.clear();
  s.endBlock = -1;
  s.endLength = 0;
  s.lastBlock = s.highestBlock = 0;
  s.sawBlock = s.wrapped = false;
  s.nextBlock = 0;
  s.ackLost = false;
  s.leaving = false;
  s.ramSource = RamSource::None;
  s.ramSize = 0;
  s.ramSha1 = "-";
  if (s.loader == LoaderKind::Never) {
    // no loader that ever answers: the unit is silent until it is reset
    d.power = Power::Down;
    d.bootInto = Power::Down;
    s.phase = Phase::App;
    Note(d, "loader", "type=never");
    return;
  }
  if (s.loader == LoaderKind::Stream) {
    s.phase = Phase::Stream;
    Note(d, "loader", "type=stream ip=" + bytes::FormatIpv4(d.ip));
    return;
  }
  s.phase = Phase::Offer;
  d.ip = 0;  // until an offer gives it one (the caller places the address)
  Note(d, "loader", "type=older");
  uint64_t epoch = s.epoch;
  sim().AfterFor(d, 0, [this, epoch](Device& dev) {
    if (State(dev).epoch == epoch) RepeatBootMessage(dev);
  });
}

// ---- stream-fed ----

void KvxrUpdate::OnStreamBlock(const Datagram& g) {
  fw::StreamDatagramView v;
  if (!fw::ParseStreamDatagram(g.data, g.len, v)) return;
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!InLoader(d, g.at, Phase::Stream)) continue;
    bool named = v.deviceCount == 0;
    for (size_t i = 0; i < v.deviceCount && !named; ++i)
      named = std::memcmp(v.devices + 16 * i, d.hwid.data(), 16) == 0;
    if (named) TakeStreamBlock(d, v.block, v.bytes, v.length);
  }
}

void KvxrUpdate::TakeStreamBlock(Device& d, uint16_t block, const uint8_t* bytes, size_t length) {
  S& s = State(d);
  size_t at = size_t{block} * fw::kStreamBlockSize;
  auto refuse = [&](const char* why) {
    if (s.streamRefused++ == 0) Note(d, "stream-refused", "block=" + std::to_string(block) + " why=" + why);
  };
  if (at + length > kRamCapacity) return refuse("beyond-ram");
  if (s.endBlock >= 0 && block > s.endBlock) return refuse("beyond-end");
  if (length < fw::kStreamBlockSize) {
    if ((s.endBlock >= 0 && block != s.endBlock) || (s.sawBlock && s.highestBlock > block))
      return refuse("second-end");
    s.endBlock = block;
    s.endLength = length;
  }
  if (s.sawBlock && block < s.lastBlock) s.wrapped = true;
  s.lastBlock = block;
  s.highestBlock = s.sawBlock ? std::max<uint32_t>(s.highestBlock, block) : block;
  s.sawBlock = true;
  if (s.haveBlock.size() <= block) s.haveBlock.resize(block + 1u, 0);
  if (s.ram.size() < at + length) s.ram.resize(at + length, 0);
  if (s.haveBlock[block]) {
    if (std::memcmp(s.ram.data() + at, bytes, length) != 0) ++s.streamConflicts;  // the first copy stays
  } else {
    std::memcpy(s.ram.data() + at, bytes, length);
    s.haveBlock[block] = 1;
  }
  // complete?
  size_t last = s.endBlock >= 0 ? static_cast<size_t>(s.endBlock) : s.highestBlock;
  if (s.endBlock < 0 && !s.wrapped) return;
  if (s.haveBlock.size() <= last) return;
  for (size_t b = 0; b <= last; ++b)
    if (!s.haveBlock[b]) return;
  s.ram.resize(last * fw::kStreamBlockSize + (s.endBlock >= 0 ? s.endLength : fw::kStreamBlockSize));
  ProgramReady(d, RamSource::Stream);
}

// ---- older ----

void KvxrUpdate::SendBootMessage(Device& d) {
  S& s = State(d);
  uint8_t m[fw::kBootMessageSize];
  fw::EncodeBootMessage(d.mac.data(), m);
  ++s.bootMessages;
  sim().Broadcast(d, kOlderLoaderPort, fw::kBootPort, std::vector<uint8_t>(m, m + sizeof m), "wpboot");
}

void KvxrUpdate::RepeatBootMessage(Device& d) {
  S& s = State(d);
  if (d.power != Power::Loader || s.phase != Phase::Offer) return;
  SendBootMessage(d);
  uint64_t epoch = s.epoch;
  sim().AfterFor(d, s.wpIntervalMs, [this, epoch](Device& dev) {
    if (State(dev).epoch == epoch) RepeatBootMessage(dev);
  });
}

void KvxrUpdate::OnWatcherHello(const Datagram& g) {
  for (auto& dp : sim().devices())
    if (InLoader(*dp, g.at, Phase::Offer)) SendBootMessage(*dp);
}

void KvxrUpdate::OnOffer(const Datagram& g) {
  fw::WpOffer offer;
  if (!fw::ParseOffer(g.data, g.len, offer)) {
    Note("-", "wpoffr-malformed", "len=" + std::to_string(g.len));
    return;
  }
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!InLoader(d, g.at, Phase::Offer) || std::memcmp(offer.mac, d.mac.data(), 6) != 0) continue;
    S& s = State(d);
    if (s.wpFault == WpFault::NoSelect) {
      Note(d, "wpoffr-ignored", "fault=no-select");
      continue;
    }
    if (!UsableAddress(offer.address)) {
      Note(d, "wpoffr-refused", "address=" + bytes::FormatIpv4(offer.address));
      continue;
    }
    std::memcpy(s.jobId, offer.jobId, 16);
    ++s.epoch;  // no more boot messages
    s.phase = Phase::Upload;
    s.nextBlock = 0;
    s.ram.clear();
    sim().Readdress(d, offer.address);
    uint8_t job[16];
    std::memcpy(job, s.jobId, 16);
    if (s.wpFault == WpFault::WrongJob) job[0] ^= 0xFF;
    uint8_t sel[fw::kSelectionSize];
    fw::EncodeSelection(job, sel);
    Note(d, "wpoffr-taken", "address=" + bytes::FormatIpv4(offer.address) + " job=" + bytes::HexText(s.jobId, 16));
    sim().SendFrom(d, d.ip, *g.at.via, g.at.src, g.at.srcPort, std::vector<uint8_t>(sel, sel + sizeof sel),
                   "wpslct");
  }
}

void KvxrUpdate::OnImageBlock(const Datagram& g) {
  fw::WpImageBlock img;
  if (!fw::ParseImageBlock(g.data, g.len, img)) {
    Note("-", "wpimag-malformed", "len=" + std::to_string(g.len));
    return;
  }
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!InLoader(d, g.at, Phase::Upload) || g.at.dst != d.ip) continue;
    S& s = State(d);
    if (std::memcmp(img.jobId, s.jobId, 16) != 0) {
      Note(d, "wpimag-other-job", "block=" + std::to_string(img.block));
      continue;
    }
    auto ack = [&](uint32_t block) {
      uint8_t a[fw::kAcknowledgementSize];
      fw::EncodeAcknowledgement(s.jobId, block, a);
      sim().SendFrom(d, d.ip, *g.at.via, g.at.src, g.at.srcPort, std::vector<uint8_t>(a, a + sizeof a), "wpackl");
    };
    if (s.wpFault == WpFault::Stall && img.block >= 2) continue;  // it has stopped listening
    if (s.nextBlock > 0 && img.block == s.nextBlock - 1) {
      ack(img.block);  // its acknowledgement was lost: the same again
      continue;
    }
    if (img.block != s.nextBlock) {
      Note(d, "wpimag-out-of-order", "block=" + std::to_string(img.block) + " want=" + std::to_string(s.nextBlock));
      continue;
    }
    if (s.ram.size() + img.length > kRamCapacity) {
      Note(d, "wpimag-refused", "why=beyond-ram block=" + std::to_string(img.block));
      continue;
    }
    s.ram.insert(s.ram.end(), img.bytes, img.bytes + img.length);
    ++s.nextBlock;
    if (s.wpFault == WpFault::LoseAck && img.block == 1 && !s.ackLost) s.ackLost = true;
    else ack(img.block);
    if (img.length < fw::kUploadBlockSize) ProgramReady(d, RamSource::Older);
  }
}

// ---- both ----

void KvxrUpdate::ProgramReady(Device& d, RamSource source) {
  S& s = State(d);
  uint8_t digest[20];
  plat::Sha1Digest(s.ram.data(), s.ram.size(), digest);
  s.ramSource = source;
  s.ramSize = s.ram.size();
  s.ramSha1 = bytes::HexText(digest, sizeof digest);
  s.phase = Phase::Programmer;
  ++s.epoch;
  Note(d, "ram-program", std::string("source=") + (source == RamSource::Stream ? "stream" : "older") +
                             " size=" + std::to_string(s.ramSize) + " sha1=" + s.ramSha1);
  s.ram.clear();
  s.ram.shrink_to_fit();
  s.haveBlock.clear();
  OpenProgrammer(d);
}

}  // namespace qs::devsim
