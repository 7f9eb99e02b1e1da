// The older boot loader: its datagrams written out by hand from the layout,
// and the offer and upload driven through the session with a played device
// and clock (block count, acknowledgements, retry rules).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "firmware/older_loader_session.h"
#include "firmware/update_status.h"
#include "firmware/wp_messages.h"

namespace qs::fw {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kJob[16] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                          0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
const uint8_t kOtherJob[16] = {0x99};
const uint8_t kMac[6] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

Bytes Program(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i ^ (i >> 8));
  return b;
}

TEST(WpMessages, LibraryDatagramsFollowTheLayout) {
  uint8_t offer[kOfferSize];
  EncodeOffer(kJob, kMac, 0xC0A80114, offer);  // 192.168.1.20
  Bytes want{'W', 'P', 'O', 'F', 'F', 'R', 12, 0};
  want.insert(want.end(), kJob, kJob + 16);
  want.insert(want.end(), kMac, kMac + 6);
  want.insert(want.end(), {0, 0, 0x14, 0x01, 0xA8, 0xC0});
  EXPECT_EQ(Bytes(offer, offer + kOfferSize), want);

  const Bytes program = Program(1030);
  Bytes block;
  ASSERT_TRUE(EncodeImageBlock(kJob, 2, program.data(), program.size(), block));
  want = {'W', 'P', 'I', 'M', 'A', 'G', 10, 0};
  want.insert(want.end(), kJob, kJob + 16);
  want.insert(want.end(), {2, 0, 0, 0});
  want.insert(want.end(), program.begin() + 1024, program.end());
  EXPECT_EQ(block, want);
  ASSERT_TRUE(EncodeImageBlock(kJob, 0, program.data(), program.size(), block));
  EXPECT_EQ(block.size(), 28u + 512);
  EXPECT_EQ(block[6], 0x04);  // 516 = 0x0204
  EXPECT_EQ(block[7], 0x02);
  EXPECT_FALSE(EncodeImageBlock(kJob, 3, program.data(), program.size(), block));
}

TEST(WpMessages, DeviceDatagramsAreReadFromTheirFixedPlaces) {
  Bytes boot(30, 0xEE);
  std::memcpy(boot.data(), "WPBOOT", 6);
  std::memcpy(boot.data() + 24, kMac, 6);
  uint8_t mac[6] = {};
  ASSERT_TRUE(ParseBootMessage(boot.data(), boot.size(), mac));
  EXPECT_EQ(std::memcmp(mac, kMac, 6), 0);
  EXPECT_FALSE(ParseBootMessage(boot.data(), 29, mac));  // the MAC would lie beyond the datagram
  EXPECT_FALSE(ParseBootMessage(boot.data(), 6, mac));
  boot[5] = 'X';
  EXPECT_FALSE(ParseBootMessage(boot.data(), boot.size(), mac));

  Bytes sel{'W', 'P', 'S', 'L', 'C', 'T', 0xFF, 0xFF};
  sel.insert(sel.end(), kJob, kJob + 16);
  WpAnswer a = ParseAnswer(sel.data(), sel.size());
  EXPECT_EQ(a.kind, WpAnswerKind::Selection);
  EXPECT_EQ(std::memcmp(a.jobId, kJob, 16), 0);
  EXPECT_EQ(ParseAnswer(sel.data(), 23).kind, WpAnswerKind::Other);

  Bytes ack{'W', 'P', 'A', 'C', 'K', 'L', 0, 0};
  ack.insert(ack.end(), kJob, kJob + 16);
  ack.insert(ack.end(), {0xD1, 0x00, 0x00, 0x00, 0x77});  // one extra byte is fine
  a = ParseAnswer(ack.data(), ack.size());
  EXPECT_EQ(a.kind, WpAnswerKind::Acknowledgement);
  EXPECT_EQ(a.block, 209u);
  EXPECT_EQ(ParseAnswer(ack.data(), 27).kind, WpAnswerKind::Other);
  EXPECT_EQ(ParseAnswer(nullptr, 0).kind, WpAnswerKind::Other);

  // The device-side encoders agree with the same layout.
  uint8_t built[kAcknowledgementSize];
  EncodeAcknowledgement(kJob, 209, built);
  EXPECT_EQ(Bytes(built, built + 8), (Bytes{'W', 'P', 'A', 'C', 'K', 'L', 20, 0}));
  EXPECT_EQ(Bytes(built + 8, built + 28), Bytes(ack.begin() + 8, ack.begin() + 28));
}

TEST(WpMessages, DeviceSideParsersRefuseWhatTheLayoutDoesNotAllow) {
  uint8_t offer[kOfferSize];
  EncodeOffer(kJob, kMac, 0x0A470005, offer);
  WpOffer o;
  ASSERT_TRUE(ParseOffer(offer, kOfferSize, o));
  EXPECT_EQ(o.address, 0x0A470005u);
  EXPECT_FALSE(ParseOffer(offer, kOfferSize - 1, o));
  offer[6] = 13;
  EXPECT_FALSE(ParseOffer(offer, kOfferSize, o));

  const Bytes program = Program(1024);
  Bytes block;
  ASSERT_TRUE(EncodeImageBlock(kJob, 2, program.data(), program.size(), block));
  EXPECT_EQ(block.size(), 28u);  // the empty last block
  WpImageBlock b;
  ASSERT_TRUE(ParseImageBlock(block.data(), block.size(), b));
  EXPECT_EQ(b.block, 2u);
  EXPECT_EQ(b.length, 0u);
  ASSERT_TRUE(EncodeImageBlock(kJob, 1, program.data(), program.size(), block));
  ASSERT_TRUE(ParseImageBlock(block.data(), block.size(), b));
  EXPECT_EQ(std::memcmp(b.bytes, program.data() + 512, 512), 0);
  EXPECT_FALSE(ParseImageBlock(block.data(), block.size() - 1, b));  // length word disagrees
  block.push_back(0);
  block[6] = 0x05;  // 517: would be right, but L may not pass 512
  EXPECT_FALSE(ParseImageBlock(block.data(), block.size(), b));
}

TEST(WpMessages, UploadBlockCounts) {
  EXPECT_EQ(UploadBlockCount(107404), 210u);
  EXPECT_EQ(UploadBlockCount(1024), 3u);
  EXPECT_EQ(UploadBlockCount(1023), 2u);
  EXPECT_EQ(UploadBlockCount(0), 1u);
}

// ---- the session, driven by a played device ----

const UdpEndpoint kLoader{0x0A470063, 50123};

class Driver {
 public:
  explicit Driver(size_t programSize)
      : program_(Program(programSize)),
        session_(kJob, kMac, 0x0A470063, 51000, program_.data(), program_.size()) {}

  // answer(datagram sent) returns what the device does for a receive.
  struct Reply {
    enum { Datagram, Timeout, Error } what = Timeout;
    Bytes bytes;
    uint32_t after = 10;  // ms until it comes
  };
  using Device = std::function<Reply(const Bytes* lastSent)>;

  int32_t Run(const Device& device, size_t maxSteps = 100000) {
    OlderLoaderSession::Action a = session_.Start(now_);
    const Bytes* last = nullptr;
    for (size_t step = 0; step < maxSteps; ++step) {
      switch (a.what) {
        case OlderLoaderSession::Do::Finish:
          return a.status;
        case OlderLoaderSession::Do::Send:
          sent_.push_back(*a.datagram);
          to_.push_back(a.to);
          last = &sent_.back();
          a = session_.OnSent(!failSend_, now_);
          break;
        case OlderLoaderSession::Do::Receive: {
          timeouts_.push_back(a.timeoutMs);
          Reply r = device(last);
          last = nullptr;
          if (r.what == Reply::Timeout || r.after >= a.timeoutMs) {
            now_ += a.timeoutMs;
            a = session_.OnTimeout(now_);
          } else if (r.what == Reply::Error) {
            now_ += r.after;
            a = session_.OnReceiveError(now_);
          } else {
            now_ += r.after;
            a = session_.OnDatagram(r.bytes.data(), r.bytes.size(), kLoader, now_);
          }
          break;
        }
      }
    }
    ADD_FAILURE() << "the session did not finish";
    return 0;
  }

  std::vector<Bytes> sent_;
  std::vector<UdpEndpoint> to_;
  std::vector<uint32_t> timeouts_;
  bool failSend_ = false;
  uint32_t now_ = 0xFFFFF000u;  // the tick count wraps during the offer
  Bytes program_;
  OlderLoaderSession session_;

  // Blocks sent (after the offer), by number.
  std::vector<uint32_t> BlocksSent() const {
    std::vector<uint32_t> out;
    for (const Bytes& d : sent_) {
      WpImageBlock b;
      if (ParseImageBlock(d.data(), d.size(), b)) out.push_back(b.block);
    }
    return out;
  }
};

Driver::Reply Datagram(const Bytes& b, uint32_t after = 10) {
  Driver::Reply r;
  r.what = Driver::Reply::Datagram;
  r.bytes = b;
  r.after = after;
  return r;
}
Driver::Reply Silence() { return Driver::Reply{}; }
Bytes Selection(const uint8_t* job) {
  Bytes b(kSelectionSize);
  EncodeSelection(job, b.data());
  return b;
}
Bytes Ack(uint32_t block, const uint8_t* job = kJob) {
  Bytes b(kAcknowledgementSize);
  EncodeAcknowledgement(job, block, b.data());
  return b;
}

// A well-behaved loader: selects on the offer, acknowledges each block.
Driver::Reply GoodLoader(const Bytes* sent) {
  if (!sent) return Silence();
  WpOffer o;
  if (ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(o.jobId));
  WpImageBlock b;
  if (ParseImageBlock(sent->data(), sent->size(), b)) return Datagram(Ack(b.block));
  return Silence();
}

TEST(OlderLoaderSession, TheDeliveredProgramGoesOutAs210BlocksTheLastOf396Bytes) {
  Driver d(107404);
  EXPECT_EQ(d.Run(GoodLoader), kOldDone);
  ASSERT_EQ(d.sent_.size(), 211u);
  WpOffer o;
  ASSERT_TRUE(ParseOffer(d.sent_[0].data(), d.sent_[0].size(), o));
  EXPECT_EQ(o.address, 0x0A470063u);
  EXPECT_EQ(d.to_[0].address, 0xFFFFFFFFu);  // the offer is broadcast
  EXPECT_EQ(d.to_[0].port, 51000);           // at the boot message's port
  const std::vector<uint32_t> blocks = d.BlocksSent();
  ASSERT_EQ(blocks.size(), 210u);
  for (uint32_t i = 0; i < 210; ++i) EXPECT_EQ(blocks[i], i);
  EXPECT_EQ(d.sent_.back().size(), 28u + 396);
  EXPECT_EQ(d.to_.back().address, kLoader.address);  // blocks go where the selection came from
  EXPECT_EQ(d.to_.back().port, kLoader.port);
  EXPECT_EQ(d.timeouts_.back(), 1000u);
}

TEST(OlderLoaderSession, AProgramOnABlockBoundaryEndsWithAnEmptyBlock) {
  Driver d(1024);
  EXPECT_EQ(d.Run(GoodLoader), kOldDone);
  EXPECT_EQ(d.BlocksSent(), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(d.sent_.back().size(), 28u);
}

TEST(OlderLoaderSession, AnEarlyAcknowledgementOfTheLastBlockCompletesAtOnce) {
  Driver d(107404);
  EXPECT_EQ(d.Run([](const Bytes* sent) {
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              return Datagram(Ack(209));
            }),
            kOldDone);
  EXPECT_EQ(d.BlocksSent(), std::vector<uint32_t>{0});
}

TEST(OlderLoaderSession, AnAcknowledgementBeyondTheLastBlockFails) {
  Driver d(107404);
  EXPECT_EQ(d.Run([](const Bytes* sent) {
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              return Datagram(Ack(210));
            }),
            kOldBeyondLastBlock);
}

TEST(OlderLoaderSession, AnEarlierAcknowledgementMakesItListenWithoutResending) {
  Driver d(2000);  // 4 blocks
  int receives = 0;
  EXPECT_EQ(d.Run([&](const Bytes* sent) {
              ++receives;
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              WpImageBlock b;
              if (sent && ParseImageBlock(sent->data(), sent->size(), b)) {
                if (b.block == 2) return Datagram(Ack(0));  // a stale acknowledgement first
                return Datagram(Ack(b.block));
              }
              return Datagram(Ack(2));  // listening: the right one comes late
            }),
            kOldDone);
  EXPECT_EQ(d.BlocksSent(), (std::vector<uint32_t>{0, 1, 2, 3}));  // block 2 went out once
}

TEST(OlderLoaderSession, FiveLostAcknowledgementsForOneBlockEndTheUpload) {
  Driver d(107404);
  EXPECT_EQ(d.Run([](const Bytes* sent) {
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              WpImageBlock b;
              if (sent && ParseImageBlock(sent->data(), sent->size(), b) && b.block < 3) return Datagram(Ack(b.block));
              return Silence();
            }),
            kOldTriesExhausted);
  EXPECT_EQ(d.BlocksSent(), (std::vector<uint32_t>{0, 1, 2, 3, 3, 3, 3, 3}));
}

TEST(OlderLoaderSession, FourFailuresOfEveryKindAreRecoveredFrom) {
  // Per block: a lost acknowledgement, a foreign datagram, another job's
  // acknowledgement and a receive error; the fifth try succeeds.
  Driver d(1500);  // 3 blocks
  std::vector<int> tries(3, 0);
  EXPECT_EQ(d.Run([&](const Bytes* sent) {
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              WpImageBlock b;
              if (!sent || !ParseImageBlock(sent->data(), sent->size(), b)) return Silence();
              switch (tries[b.block]++) {
                case 0: return Silence();
                case 1: return Datagram(Bytes{'h', 'e', 'l', 'l', 'o'});
                case 2: return Datagram(Ack(b.block, kOtherJob));
                case 3: { Driver::Reply r; r.what = Driver::Reply::Error; return r; }
                default: return Datagram(Ack(b.block));
              }
            }),
            kOldDone);
  EXPECT_EQ(d.BlocksSent().size(), 15u);
  // A fresh count for every block: a sixth failure on one block would have ended it.
  EXPECT_EQ(tries, (std::vector<int>{5, 5, 5}));
}

TEST(OlderLoaderSession, RepeatedStaleAcknowledgementsCannotHoldItForEver) {
  Driver d(107404);
  EXPECT_EQ(d.Run([](const Bytes* sent) {
              WpOffer o;
              if (sent && ParseOffer(sent->data(), sent->size(), o)) return Datagram(Selection(kJob));
              WpImageBlock b;
              if (sent && ParseImageBlock(sent->data(), sent->size(), b) && b.block == 0) return Datagram(Ack(0));
              return Datagram(Ack(0));  // block 1 is never acknowledged, block 0 again and again
            }),
            kOldTriesExhausted);
  EXPECT_EQ(d.BlocksSent(), (std::vector<uint32_t>{0, 1}));
}

TEST(OlderLoaderSession, OfferOutcomes) {
  {  // nothing at all within 5000 ms
    Driver d(100);
    EXPECT_EQ(d.Run([](const Bytes*) { return Silence(); }), kOldNoAnswer);
    EXPECT_EQ(d.timeouts_, std::vector<uint32_t>{5000});
  }
  {  // only a selection for another job
    Driver d(100);
    EXPECT_EQ(d.Run([](const Bytes* sent) { return sent ? Datagram(Selection(kOtherJob)) : Silence(); }),
              kOldOtherJob);
  }
  {  // unrelated traffic, every 1000 ms: the wait shrinks with the time left
    Driver d(100);
    EXPECT_EQ(d.Run([](const Bytes*) { return Datagram(Bytes{'W', 'P', 'B', 'O', 'O', 'T'}, 1000); }),
              kOldOnlyUnrelated);
    EXPECT_EQ(d.timeouts_, (std::vector<uint32_t>{5000, 4000, 3000, 2000, 1000}));
    EXPECT_EQ(d.session_.phase(), OlderLoaderSession::Phase::Finished);
  }
  {  // another job's selection and unrelated traffic: the other job is named
    Driver d(100);
    int n = 0;
    EXPECT_EQ(d.Run([&](const Bytes*) {
                return ++n == 1 ? Datagram(Bytes(40, 0)) : n == 2 ? Datagram(Selection(kOtherJob)) : Silence();
              }),
              kOldOtherJob);
  }
  {  // a short selection is unrelated; the right one after it is taken
    Driver d(100);
    int n = 0;
    const Bytes whole = Selection(kJob);
    const Bytes shortened(whole.begin(), whole.begin() + 23);
    EXPECT_EQ(d.Run([&](const Bytes* sent) {
                ++n;
                if (n == 1) return Datagram(shortened);
                if (n == 2) return Datagram(Selection(kJob));
                return GoodLoader(sent);
              }),
              kOldDone);
  }
  {  // a receive error ends the offer
    Driver d(100);
    EXPECT_EQ(d.Run([](const Bytes*) {
                Driver::Reply r;
                r.what = Driver::Reply::Error;
                return r;
              }),
              kOldNoAnswer);
  }
  {  // a send error ends it with -104, in the offer and in the upload
    Driver d(100);
    d.failSend_ = true;
    EXPECT_EQ(d.Run(GoodLoader), kOldSendFailed);
    EXPECT_EQ(d.sent_.size(), 1u);
  }
}

TEST(OlderLoaderSession, ASendErrorDuringTheUploadEndsIt) {
  Driver d(107404);
  int blocks = 0;
  EXPECT_EQ(d.Run([&](const Bytes* sent) {
              WpImageBlock b;
              if (sent && ParseImageBlock(sent->data(), sent->size(), b) && ++blocks == 3) d.failSend_ = true;
              return GoodLoader(sent);
            }),
            kOldSendFailed);
  EXPECT_EQ(d.BlocksSent().size(), 4u);
}

}  // namespace
}  // namespace qs::fw
