// The stream job's passes against a device's programming stream over a flash
// model (tests/support/fake_flash.h), on the loopback: what is written, what
// is not, and how every device fault ends the job, each within its bound.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "firmware/programmer_xx.h"
#include "firmware/update_status.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/log_sink.h"
#include "tests/support/fake_flash.h"
#include "tests/support/memory_image.h"

namespace qs::fw {
namespace {

using test::FakeFlash;
using test::Filled;
using test::MakeImage;

constexpr uint32_t kLoopback = 0x7F000001;
plat::SocketsLibrary g_sockets;

void OnProgress(void* c, uint32_t percent) { static_cast<std::vector<uint32_t>*>(c)->push_back(percent); }

class StreamJob : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(flash_.Listen(kLoopback));
    ASSERT_TRUE(stop_.Create(true, false));
  }
  // Connects and runs the passes; the status.
  int32_t Run(IBinaryImage* image) {
    StreamConnection c;
    int r = c.Connect(kLoopback, flash_.port(), 0, plat::WaitLimit{3000, {}});
    EXPECT_EQ(r, plat::kSockOk);
    JobLog log(nullptr, "stream");
    return RunFirmwarePasses(c, image, stop_, log, &OnProgress, &progress_);
  }
  // The device handles "APPL" after the job has closed its end.
  int Applied(int expect) {
    for (int i = 0; i < 100 && flash_.applied() < expect; ++i) plat::SleepMs(10);
    return flash_.applied();
  }
  FakeFlash flash_;
  plat::Event stop_;

  std::vector<uint32_t> progress_;
};

TEST_F(StreamJob, OnlyTheChunkThatDiffersIsWrittenThenVerifiedAndStarted) {
  std::vector<uint8_t> a = Filled(3000, 1), b = Filled(70000, 2);
  flash_.Put(0x10000, a);
  flash_.Put(0x20000, Filled(70000, 3));
  flash_.progressStep = 8192;
  Ref<IBinaryImage> image = MakeImage({{0x10000, a}, {0x20000, b}});
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_WRITTEN);
  auto w = flash_.writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].tag, "WRTE");
  EXPECT_EQ(w[0].address, 0x20000u);
  EXPECT_EQ(w[0].size, 70000u);
  EXPECT_EQ(flash_.Get(0x20000, 70000), b);
  EXPECT_EQ(flash_.digests(), 4);  // compare and verify, both chunks
  EXPECT_EQ(Applied(1), 1);
  // 0 at the start of the chunk, then rising to 100.
  ASSERT_GE(progress_.size(), 3u);
  EXPECT_EQ(progress_.front(), 0u);
  EXPECT_EQ(progress_.back(), 100u);
  for (size_t i = 1; i < progress_.size(); ++i) EXPECT_GT(progress_[i], progress_[i - 1]);
}

TEST_F(StreamJob, PercentagesRestartAtEachWrittenChunk) {
  Ref<IBinaryImage> image = MakeImage({{0x1000, Filled(20000, 4)}, {0x9000, Filled(20000, 5)}});
  flash_.progressStep = 5000;
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_WRITTEN);
  EXPECT_EQ(flash_.writes().size(), 2u);
  EXPECT_EQ(progress_, (std::vector<uint32_t>{0, 25, 50, 75, 100, 0, 25, 50, 75, 100}));
}

TEST_F(StreamJob, ADeviceAlreadyCurrentIsNotWrittenAndStarted) {
  std::vector<uint8_t> a = Filled(5000, 6);
  flash_.Put(0x8000, a);
  Ref<IBinaryImage> image = MakeImage({{0x8000, a}});
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_UP_TO_DATE);
  EXPECT_TRUE(flash_.writes().empty());
  EXPECT_EQ(Applied(1), 1);
  Ref<IBinaryImage> empty = MakeImage({});
  EXPECT_EQ(Run(empty.get()), KVXR_UPDATE_UP_TO_DATE);
}

TEST_F(StreamJob, DeviceFaultsEndTheJobWithTheirStatusAndNoStart) {
  Ref<IBinaryImage> image = MakeImage({{0x8000, Filled(40000, 7)}});
  test::FlashFaults f;
  f.erroOnWrite = true;
  flash_.SetFaults(f);
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_DEVICE_ERROR);

  f = {};
  f.badDigest = true;
  flash_.SetFaults(f);
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_BAD_DIGEST);

  f = {};
  f.ignoreWrites = true;
  flash_.SetFaults(f);
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_STILL_DIFFERS);

  f = {};
  f.closeDuringWrite = true;
  flash_.SetFaults(f);
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_SEND_FAILED);
  EXPECT_EQ(flash_.applied(), 0);

  // A chunk the image cannot hand out.
  flash_.SetFaults({});
  Ref<IBinaryImage> broken = MakeImage({{0x8000, Filled(10, 1)}}, 0);
  EXPECT_EQ(Run(broken.get()), KVXR_UPDATE_NO_CHUNK);
  EXPECT_EQ(flash_.applied(), 0);
}

// The wait for the last progress report and "WFIN" is bounded.
TEST_F(StreamJob, ADeviceSilentAfterTheDataEndsTheWriteWithinItsBound) {
  Ref<IBinaryImage> image = MakeImage({{0x8000, Filled(10000, 8)}});
  test::FlashFaults f;
  f.silentAfterData = true;
  flash_.SetFaults(f);
  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(Run(image.get()), KVXR_UPDATE_SEND_FAILED);
  const uint32_t spent = plat::TicksSince(t0);
  EXPECT_GE(spent, kWriteIdleMs - 100);
  EXPECT_LT(spent, kWriteIdleMs + 2000);
}

TEST_F(StreamJob, TheStopEventEndsAWaitAtOnce) {
  Ref<IBinaryImage> image = MakeImage({{0x8000, Filled(10000, 9)}});
  test::FlashFaults f;
  f.silentAfterData = true;
  flash_.SetFaults(f);
  std::thread stopper([this] {
    plat::SleepMs(300);
    stop_.Set();
  });
  const uint32_t t0 = plat::TickCount();
  int32_t st = Run(image.get());
  stopper.join();
  EXPECT_LT(plat::TicksSince(t0), 2000u);
  EXPECT_LT(st, 0);
  EXPECT_EQ(flash_.applied(), 0);
}

TEST(StreamConnect, ARefusedOrUnansweredConnectionFailsWithinItsBound) {
  plat::TcpSocket l;
  ASSERT_TRUE(l.Listen(kLoopback, 0));
  uint16_t port = l.LocalAddress().port;
  l.Close();  // nobody listens there now
  StreamConnection c;
  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(c.Connect(kLoopback, port, 0, plat::WaitLimit{kConnectLimitMs, {}}), plat::kSockError);
  EXPECT_LT(plat::TicksSince(t0), 2000u);
}

}  // namespace
}  // namespace qs::fw
